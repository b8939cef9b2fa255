// TIniFile: the client configuration file format. Sections "[name]" hold "key=value" lines; section and key names
// compare ignoring letter case; names and values are trimmed of bytes 0x00-0x20; lines starting with ";" or "#"
// are comments. Files are UTF-8 (a leading byte-order mark is skipped and kept) with LF or CR LF line breaks.
//
// The file is read once, at construction. Reading never throws: a missing or unreadable file reads as empty, and
// a value that is absent or not of the asked type gives the default. Every write saves the whole file at once
// (a temporary file renamed over it), keeping every other line (comments, unknown lines, other sections) as it
// was. Not shared between threads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexo {

class TIniFile {
  public:
    explicit TIniFile(std::string path);

    const std::string& FileName() const { return path_; }

    // The first value of the key in the first section of that name.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // Decimal, or hexadecimal after "0x" or "$", with an optional sign; the default when out of the int range.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // An integer (non-zero is true) or one of true/false, yes/no, on/off in any letter case.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // Sets the value (replacing the key's first line, else adding a line at the end of the section, else adding
    // the section at the end of the file) and saves the file. False, leaving file and memory unchanged, when the
    // file cannot be written, or when a name or value would not read back as written: a line break anywhere, a
    // blank name, "=" in a key, "]" in a section name, a key starting with ";", "#" or "[".
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);  // "1" or "0"

  private:
    // Index of the section's header line and the end of its lines (the next header or the end of the file);
    // npos when the section does not exist.
    struct TSpan {
        std::size_t header;
        std::size_t end;
    };
    TSpan FindSection(std::string_view section) const;
    // Index of the key's line inside the span; npos when absent.
    std::size_t FindKey(const TSpan& span, std::string_view key) const;
    bool Save(const std::vector<std::string>& lines) const;

    std::string path_;
    std::vector<std::string> lines_;  // without line breaks
    bool byteOrderMark_ = false;
    bool crlf_ = false;  // the file's line breaks: written back the same way
};

}  // namespace vexo
