#pragma once
// Shared by the database tests: a fresh directory per test, a fixed clock in UTC so that block
// stamps are known in advance, and raw byte access to the file for checking and corrupting it.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "server/db/KdbCheck.h"
#include "server/db/KdbLayout.h"
#include "server/db/KvDataBase.h"

// FakeClock's default wall time, 1'700'000'000 s, in UTC.
inline const std::string TestStamp = "# 2023-11-14 22:13:20";

inline std::string ReadFileBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& Path, const std::string& Bytes)
{
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

// A check report as one text, for messages and substring checks.
inline std::string Joined(const KdbCheckReport& Report)
{
    std::string text;
    for (const std::string& line : Report.Lines)
        text += line + "\n";
    return text;
}

// Bytes at a 1-based position, as the file format counts.
inline std::string At(const std::string& Image, std::int32_t Pos, std::int32_t Length)
{
    return Image.substr(static_cast<std::size_t>(Pos - 1), static_cast<std::size_t>(Length));
}

inline void Put(std::string& Image, std::int32_t Pos, const std::string& Bytes)
{
    Image.replace(static_cast<std::size_t>(Pos - 1), Bytes.size(), Bytes);
}

inline std::string Field(const std::string& Text)
{
    return Kdb::PadField(Text);
}

// Where two images first differ, for a readable failure instead of two 80 kB strings.
inline std::string FirstDifference(const std::string& Actual, const std::string& Expected)
{
    if (Actual.size() != Expected.size())
        return "sizes differ: " + std::to_string(Actual.size()) + " vs " + std::to_string(Expected.size());
    for (std::size_t i = 0; i < Actual.size(); ++i)
        if (Actual[i] != Expected[i]) return "first difference at position " + std::to_string(i + 1);
    return "";
}

class DbTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        SetClock(&Fake);
        char pattern[] = "/tmp/kdbtest-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        Dir = made;
        Path = Dir + "/KorvaneIRCD.kdb";
    }

    void TearDown() override
    {
        SetClock(nullptr);
        if (HasFailure()) {
            std::printf("test files kept in %s\n", Dir.c_str());
            return;
        }
        std::filesystem::remove_all(Dir);
    }

    // Opens DB on Path (or another file) and collects its error lines in Errors.
    void Open(KvDataBase& DB, const std::string& File = "")
    {
        DB.LogError = [this](const std::string& Line) { Errors.push_back(Line); };
        ASSERT_TRUE(DB.OpenDataBase(File.empty() ? Path : File)) << DB.OpenFailureText;
    }

    std::string Image() const { return ReadFileBytes(Path); }

    FakeClock Fake;
    std::string Dir;
    std::string Path;
    std::vector<std::string> Errors;
};
