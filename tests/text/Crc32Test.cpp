// CRC-32 of buffers and files, checked against zlib's implementation.
#include "text/Crc32.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace vexo {
namespace {

class Crc32File : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexo-crc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path dir_;
};

std::uint32_t ZlibCrc(const std::vector<unsigned char>& bytes) {
    return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(Crc32Update, KnownValuesAndIncrementalFeeding) {
    EXPECT_EQ(Crc32Update(0, "abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(0, "", 0), 0u);
    EXPECT_EQ(Crc32Update(0x1234u, "", 0), 0x1234u);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < text.size(); i += 7) {
        crc = Crc32Update(crc, text.data() + i, std::min<std::size_t>(7, text.size() - i));
    }
    EXPECT_EQ(crc, 0x414FA339u);
    EXPECT_EQ(crc, Crc32Update(0, text.data(), text.size()));
}

TEST_F(Crc32File, MatchesZlibAcrossBlockBoundaries) {
    std::mt19937 random(20240229);
    const std::size_t sizes[] = {
        0, 1, kCrcBlockSize - 1, kCrcBlockSize, kCrcBlockSize + 1, 2 * kCrcBlockSize, 1024 * 1024 + 17};
    for (const std::size_t size : sizes) {
        std::vector<unsigned char> bytes(size);
        for (auto& b : bytes)
            b = static_cast<unsigned char>(random());
        const std::string path = Write("file" + std::to_string(size), bytes);
        EXPECT_EQ(FileCrc32(path), ZlibCrc(bytes)) << "size " << size;
    }
}

TEST_F(Crc32File, AbcFileAndFailuresGiveZero) {
    EXPECT_EQ(FileCrc32(Write("abc.txt", {'a', 'b', 'c'})), 0x352441C2u);
    EXPECT_EQ(FileCrc32((dir_ / "missing.bin").string()), 0u);
    EXPECT_EQ(FileCrc32(dir_.string()), 0u);  // a directory opens but cannot be read
    EXPECT_EQ(FileCrc32(""), 0u);
}

}  // namespace
}  // namespace vexo
