// Helpers shared by the update tests: a temporary folder, whole-file reads and writes, hex, zip archives made with
// libzip.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::test {

// A fresh folder under the temporary directory, removed with the object.
class TTempDir {
  public:
    TTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexo-update-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            dir_ = pattern;
    }
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return dir_; }
    // The folder with a trailing "/", as the program folder is passed around.
    std::string Slashed() const { return dir_.string() + "/"; }

  private:
    std::filesystem::path dir_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4];
        hex += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return hex;
}

inline std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

// An entry of a test archive: Unix mode, or DOS attributes for other systems.
struct TZipEntry {
    std::string name;
    std::string data;
    zip_uint8_t opsys = ZIP_OPSYS_UNIX;
    std::uint32_t mode = S_IFREG | 0644;
    bool folder = false;
};

inline TZipEntry File(std::string name, std::string data, std::uint32_t mode = S_IFREG | 0644) {
    return {std::move(name), std::move(data), ZIP_OPSYS_UNIX, mode, false};
}

// Writes the archive with libzip, external attributes as given.
inline void MakeZip(const std::filesystem::path& path, const std::vector<TZipEntry>& entries) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const TZipEntry& entry : entries) {
        zip_int64_t index = -1;
        if (entry.folder) {
            index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
        } else {
            zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
            ASSERT_NE(source, nullptr);
            index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        }
        ASSERT_GE(index, 0) << entry.name << ": " << zip_strerror(archive);
        const zip_uint32_t attributes = entry.opsys == ZIP_OPSYS_UNIX ? entry.mode << 16 : entry.mode;
        ASSERT_EQ(
            zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, entry.opsys, attributes), 0);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

}  // namespace vexo::test
