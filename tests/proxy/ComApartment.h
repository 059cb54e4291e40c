// The test program's main thread joins the multithreaded apartment, as the proxy thread does.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

class MultithreadedApartment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }
};
