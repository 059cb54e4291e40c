// Expected wire images of the control requests, built from offsets and widths written out here rather than
// from the shared record types, so that a layout change shows up as a difference.
#pragma once

#include "tests/client/RecordingReceiver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qxtest {

class WireBytes {
public:
    explicit WireBytes(std::size_t size) : m_bytes(size, 0) {}

    // `text` as it should arrive: already cut; it must leave room for the terminator in `width`.
    WireBytes& text(std::size_t offset, std::size_t width, const std::string& text) {
        EXPECT_LT(text.size(), width) << "expectation does not fit its field at offset " << offset;
        EXPECT_LE(offset + width, m_bytes.size());
        std::memcpy(m_bytes.data() + offset, text.data(), std::min(text.size(), width - 1));
        return *this;
    }
    WireBytes& int32(std::size_t offset, std::int32_t value) {
        auto bits = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) m_bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Field offsets and widths of the three records.
namespace wire {
constexpr std::size_t kStartSize = 324, kModuleSize = 64, kPilotSize = 124;
}  // namespace wire

// Compares a received request with the expected code and image; names the first differing byte.
inline ::testing::AssertionResult SameRequest(const ReceivedRequest& got, ULONG_PTR code,
                                              const std::vector<std::uint8_t>& bytes) {
    if (got.code != code) return ::testing::AssertionFailure() << "code " << got.code << ", expected " << code;
    if (got.size != bytes.size())
        return ::testing::AssertionFailure() << "cbData " << got.size << ", expected " << bytes.size();
    if (got.hasData != !bytes.empty())
        return ::testing::AssertionFailure() << (got.hasData ? "lpData set" : "lpData null") << " for size "
                                             << bytes.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (got.bytes[i] != bytes[i])
            return ::testing::AssertionFailure() << "byte " << i << " is " << int(got.bytes[i]) << ", expected "
                                                 << int(bytes[i]);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace qxtest
