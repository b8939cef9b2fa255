// Checked unpacking of update packages with libzip.
#include "update/ZipUnpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "engine/Hosts.h"

namespace vexo {

namespace {

constexpr std::string_view kDatabasePath = "Data/users";
constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kSpecialBits = S_ISUID | S_ISGID | S_ISVTX;
constexpr mode_t kForeignFileMode = 0644;  // entries made on DOS or Windows carry no permissions
constexpr mode_t kFolderMode = 0755;
constexpr std::uint8_t kDosDirectoryAttribute = 0x10;
constexpr std::size_t kCopyBlock = 64 * 1024;

struct TZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct TZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

struct TEntry {
    zip_uint64_t index = 0;
    std::string path;  // normalised, relative, "/"-separated
    bool folder = false;
    mode_t mode = 0;
    std::uint64_t size = 0;
};

struct TWritten {
    std::string tempPath;
    std::string finalPath;
};

// Splits the entry name into its parts; false when it is absolute or climbs. Backslashes count as separators
// (archivers on Windows wrote them), "." parts and empty parts are dropped.
bool NormaliseName(std::string name, std::string& path, std::string& error) {
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    if (name.empty()) {
        error = "an entry has no name";
        return false;
    }
    if (name.front() == '/' || (name.size() >= 2 && name[1] == ':')) {
        error = "absolute entry name: " + name;
        return false;
    }
    path.clear();
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t slash = name.find('/', pos);
        if (slash == std::string::npos)
            slash = name.size();
        const std::string_view part(name.data() + pos, slash - pos);
        if (part == "..") {
            error = "entry name climbs out of the folder: " + name;
            return false;
        }
        if (part.find('\0') != std::string_view::npos) {
            error = "entry name holds a NUL byte";
            return false;
        }
        if (!part.empty() && part != ".") {
            if (!path.empty())
                path += '/';
            path += part;
        }
        pos = slash + 1;
    }
    if (path.empty()) {
        error = "an entry names no file: " + name;
        return false;
    }
    return true;
}

// Type and mode of an entry from its external attributes; false when it is no regular file or folder, or
// carries setuid, setgid or sticky bits.
bool EntryKind(zip_t* archive, TEntry& entry, bool namedAsFolder, std::string& error) {
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, entry.index, 0, &opsys, &attributes) != 0) {
        error = "unreadable entry attributes: " + entry.path;
        return false;
    }
    if (opsys != ZIP_OPSYS_UNIX) {
        entry.folder = namedAsFolder || (attributes & kDosDirectoryAttribute) != 0;
        entry.mode = entry.folder ? kFolderMode : kForeignFileMode;
        return true;
    }
    const auto unixMode = static_cast<mode_t>(attributes >> 16);
    const mode_t type = unixMode & S_IFMT;
    if (type == S_IFLNK) {
        error = "symbolic link entry: " + entry.path;
        return false;
    }
    if (type != 0 && type != S_IFREG && type != S_IFDIR) {
        error = "special file entry: " + entry.path;
        return false;
    }
    if ((unixMode & kSpecialBits) != 0) {
        error = "entry with setuid, setgid or sticky bits: " + entry.path;
        return false;
    }
    entry.folder = type == S_IFDIR || namedAsFolder;
    entry.mode = unixMode & kPermissionBits;
    if (entry.mode == 0)  // archivers that store the type alone
        entry.mode = entry.folder ? kFolderMode : kForeignFileMode;
    if (entry.folder)
        entry.mode |= S_IRWXU;  // the folder must stay writable for the files unpacked into it
    return true;
}

bool IsProtected(const TEntry& entry, const TUnpackRules& rules) {
    for (const std::string& item : rules.Protected) {
        // The file itself, a path below it (which needs a folder in its place), or a file in place of a folder
        // that holds it.
        if (entry.path == item || entry.path.starts_with(item + "/") ||
            (!entry.folder && item.starts_with(entry.path + "/")))
            return true;
    }
    return false;
}

// What lies at the path in the target folder decides whether the entry may go there: a folder entry needs a
// folder or nothing, a file entry a regular file or nothing, and every folder on the way must be a real folder.
bool TargetAllows(const std::string& targetDir, const TEntry& entry, std::string& error) {
    std::size_t pos = 0;
    for (;;) {
        const std::size_t slash = entry.path.find('/', pos);
        const bool last = slash == std::string::npos;
        const std::string full = targetDir + (last ? entry.path : entry.path.substr(0, slash));
        struct stat info {};
        if (::lstat(full.c_str(), &info) != 0) {
            if (errno == ENOENT)
                return true;  // nothing there yet, and so nothing below it
            error = "cannot inspect " + full + ": " + std::strerror(errno);
            return false;
        }
        if (!last || entry.folder) {
            if (!S_ISDIR(info.st_mode)) {
                error = "not a folder in the program folder: " + full;
                return false;
            }
        } else if (!S_ISREG(info.st_mode)) {
            error = "entry would replace something that is no regular file: " + full;
            return false;
        }
        if (last)
            return true;
        pos = slash + 1;
    }
}

// Creates the folders of the path (0755 unless the archive gave a mode), remembering those it made.
bool MakeFolders(const std::string& targetDir, const std::string& relative, mode_t mode, std::vector<std::string>& made,
                 std::string& error) {
    std::size_t pos = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', pos);
        const std::string full = targetDir + (slash == std::string::npos ? relative : relative.substr(0, slash));
        const mode_t folderMode = slash == std::string::npos ? mode : kFolderMode;
        if (::mkdir(full.c_str(), folderMode) == 0) {
            ::chmod(full.c_str(), folderMode);  // mkdir applies the umask
            made.push_back(full);
        } else if (errno != EEXIST) {
            error = "cannot make folder " + full + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos)
            return true;
        pos = slash + 1;
    }
}

std::string ParentOf(const std::string& relative) {
    const std::size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

bool WriteEntry(zip_t* archive, const TEntry& entry, const std::string& targetDir, TWritten& written,
                std::string& error) {
    written.finalPath = targetDir + entry.path;
    const std::size_t slash = written.finalPath.rfind('/');
    std::string temp = written.finalPath.substr(0, slash + 1) + "." + written.finalPath.substr(slash + 1);
    if (temp.size() > 200)
        temp = written.finalPath.substr(0, slash + 1) + ".unpack";
    temp += ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a file in " + written.finalPath.substr(0, slash + 1) + ": " + std::strerror(errno);
        return false;
    }
    written.tempPath = temp;
    bool ok = true;
    std::unique_ptr<zip_file_t, TZipFileCloser> file(zip_fopen_index(archive, entry.index, 0));
    if (!file) {
        error = "cannot read entry " + entry.path + ": " + zip_strerror(archive);
        ok = false;
    }
    std::vector<char> buffer(kCopyBlock);
    std::uint64_t total = 0;
    while (ok) {
        const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
        if (got < 0) {
            error = "damaged entry " + entry.path + ": " + zip_file_strerror(file.get());
            ok = false;
            break;
        }
        if (got == 0)
            break;
        total += static_cast<std::uint64_t>(got);
        if (total > entry.size) {  // more than the directory announced: not the package that was checked
            error = "entry longer than announced: " + entry.path;
            ok = false;
            break;
        }
        for (zip_int64_t off = 0; off < got;) {
            const ssize_t put = ::write(fd, buffer.data() + off, static_cast<std::size_t>(got - off));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                error = "cannot write " + written.finalPath + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            off += put;
        }
    }
    if (ok && ::fchmod(fd, entry.mode) != 0) {
        error = "cannot set the mode of " + written.finalPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && ::fsync(fd) != 0) {
        error = "cannot write " + written.finalPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = "cannot write " + written.finalPath + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

}  // namespace

TUnpackRules ProgramFolderRules(const std::string& runningProgramName) {
    TUnpackRules rules;
    rules.Protected = {std::string(kDatabasePath), std::string(kClientConfigFile)};
    if (!runningProgramName.empty())
        rules.Protected.push_back(runningProgramName);
    return rules;
}

TUnpackResult UnpackArchive(const std::string& archivePath, const std::string& targetDirIn, const TUnpackRules& rules) {
    TUnpackResult result;
    const std::string targetDir = targetDirIn.ends_with('/') ? targetDirIn : targetDirIn + "/";
    int openError = 0;
    std::unique_ptr<zip_t, TZipCloser> archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
    if (!archive) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, openError);
        result.Error = "cannot open the archive " + archivePath + ": " + zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return result;
    }

    // Check every entry before anything is written.
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    std::vector<TEntry> entries;
    std::set<std::string> folders;  // paths that entries need as folders
    std::uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        TEntry entry;
        entry.index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), entry.index, 0, &stat) != 0 || (stat.valid & ZIP_STAT_NAME) == 0 ||
            (stat.valid & ZIP_STAT_SIZE) == 0) {
            result.Error = "unreadable archive entry";
            return result;
        }
        const std::string name = stat.name;
        if (!NormaliseName(name, entry.path, result.Error) ||
            !EntryKind(archive.get(), entry, name.ends_with('/') || name.ends_with('\\'), result.Error)) {
            return result;
        }
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE) {
            result.Error = "encrypted entry: " + entry.path;
            return result;
        }
        if (IsProtected(entry, rules)) {
            result.Error = "entry would replace a protected file: " + entry.path;
            return result;
        }
        if (!entry.folder && entry.path == kUpdaterFile)
            entry.mode |= S_IXUSR;  // the program starts it directly
        entry.size = entry.folder ? 0 : stat.size;
        total += entry.size;
        if (total > rules.MaxUnpackedBytes || entry.size > rules.MaxUnpackedBytes) {
            result.Error = "archive unpacks to more than " + std::to_string(rules.MaxUnpackedBytes) + " bytes";
            return result;
        }
        if (!TargetAllows(targetDir, entry, result.Error))
            return result;
        for (std::string parent = ParentOf(entry.path); !parent.empty(); parent = ParentOf(parent))
            folders.insert(parent);
        if (entry.folder)
            folders.insert(entry.path);
        entries.push_back(std::move(entry));
    }
    for (const TEntry& entry : entries) {
        if (!entry.folder && folders.contains(entry.path)) {
            result.Error = "entry is both a file and a folder: " + entry.path;
            return result;
        }
    }

    // Write every file under a temporary name; on any failure remove what was made.
    std::vector<std::string> madeFolders;
    std::vector<TWritten> written;
    bool ok = true;
    for (const TEntry& entry : entries) {
        const std::string folder = entry.folder ? entry.path : ParentOf(entry.path);
        if (!folder.empty() &&
            !MakeFolders(targetDir, folder, entry.folder ? entry.mode : kFolderMode, madeFolders, result.Error)) {
            ok = false;
            break;
        }
        if (entry.folder)
            continue;
        TWritten file;
        const bool wrote = WriteEntry(archive.get(), entry, targetDir, file, result.Error);
        if (!file.tempPath.empty())
            written.push_back(file);
        if (!wrote) {
            ok = false;
            break;
        }
    }
    if (!ok) {
        for (const TWritten& file : written)
            ::unlink(file.tempPath.c_str());
        for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it)
            ::rmdir(it->c_str());
        return result;
    }
    // Same-named entries: the later one wins, as it would unpacked in order.
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (::rename(written[i].tempPath.c_str(), written[i].finalPath.c_str()) != 0) {
            result.Error = "cannot replace " + written[i].finalPath + ": " + std::strerror(errno);
            for (std::size_t j = i; j < written.size(); ++j)
                ::unlink(written[j].tempPath.c_str());
            return result;
        }
    }
    for (const TEntry& entry : entries) {
        if (!entry.folder)
            result.Files.push_back(entry.path);
    }
    result.Ok = true;
    return result;
}

}  // namespace vexo
