#include "daemon/core/RequestDecode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Kind = DecodedRequest::Kind;

TEST(DecodeRequest, CodesSizesAndNullRecords) {
    alignas(8) unsigned char record[400] = {};
    const struct {
        ULONG_PTR code;
        bool withData;
        DWORD size;
        Kind kind;
    } cases[] = {
        {0, true, 324, Kind::Ignored},     {5, true, 324, Kind::Ignored},     {99, false, 0, Kind::Ignored},
        {1, true, 324, Kind::Start},       {1, true, 400, Kind::Start},       {1, true, 323, Kind::Malformed},
        {1, false, 324, Kind::Malformed},  {1, true, 0, Kind::Malformed},     {2, true, 64, Kind::AddModule},
        {2, true, 63, Kind::Malformed},    {2, false, 64, Kind::Malformed},   {3, true, 124, Kind::Pilot},
        {3, true, 122, Kind::Malformed},   {3, false, 0, Kind::Malformed},    {4, false, 0, Kind::Stop},
        {4, true, 324, Kind::Stop},
    };
    for (const auto& c : cases) {
        DecodedRequest r = DecodeRequest(c.code, c.withData ? record : nullptr, c.size);
        EXPECT_EQ(r.kind, c.kind) << "code " << c.code << " size " << c.size << " data " << c.withData;
        if (c.kind == Kind::Malformed) {
            EXPECT_FALSE(r.problem.empty());
        }
    }
}

TEST(DecodeRequest, MalformedTextsNameTheProblem) {
    unsigned char record[64] = {};
    EXPECT_EQ(DecodeRequest(3, record, 64).problem, "Malformed request 3 ignored: 64 bytes received, 124 expected");
    EXPECT_EQ(DecodeRequest(2, nullptr, 64).problem, "Malformed request 2 ignored: no record");
}

TEST(DecodeRequest, RecordsAreReadInPlace) {
    PilotRequest pilot{};
    pilot.place = 25;
    DecodedRequest r = DecodeRequest(3, &pilot, sizeof pilot);
    ASSERT_EQ(r.kind, Kind::Pilot);
    EXPECT_EQ(r.pilot, &pilot);
}

TEST(FieldText, BoundedByTheFieldWidth) {
    PilotRequest pilot{};
    std::memset(&pilot, 'A', sizeof pilot);  // no terminator anywhere
    EXPECT_EQ(FieldText(pilot.group), std::string(6, 'A'));
    EXPECT_EQ(FieldText(pilot.underlying), std::string(33, 'A'));
    CopyField(pilot.group, "ABCDEFGH");
    EXPECT_EQ(FieldText(pilot.group), "ABCDE");
    CopyField(pilot.isin, nullptr);
    EXPECT_EQ(FieldText(pilot.isin), "");
}

}  // namespace
