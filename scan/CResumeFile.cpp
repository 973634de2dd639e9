#include "scan/CResumeFile.h"

#include "platform/CDevice.h"
#include "scan/CSha256.h"
#include "volume/CVolumeAccess.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kMagic = "vallora-resume";
constexpr const char* kDigestKey = "sha256";

// Bytes that would break the line or the key/value split are written as %XX.
std::string escaped(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (c <= 0x20 || c == 0x7F || c == '%') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += char(c);
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool unescaped(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += char(high * 16 + low);
        i += 2;
    }
    return true;
}

template <typename T> bool number(const std::string& text, T& value) {
    if (text.empty() || text.size() > 20)
        return false;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool isDigest(const std::string& text) {
    if (text.size() != 64)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// The lines of a resume file, taken in their fixed order.
class CLineReader {
public:
    explicit CLineReader(const std::string& text) : text(text) {}

    // The next line's value when its key is key.
    bool take(const char* key, std::string& value, std::string& error) {
        std::string line;
        if (!nextLine(line)) {
            error = std::string("it ends before '") + key + "'";
            return false;
        }
        const size_t space = line.find(' ');
        const std::string found = line.substr(0, space);
        if (found != key) {
            error = "line " + std::to_string(lineNumber) + " is not '" + key + "'";
            return false;
        }
        value = space == std::string::npos ? "" : line.substr(space + 1);
        return true;
    }
    template <typename T> bool takeNumber(const char* key, T& value, std::string& error) {
        std::string field;
        if (!take(key, field, error))
            return false;
        if (!number(field, value)) {
            error = "line " + std::to_string(lineNumber) + ": '" + key + "' is not a number";
            return false;
        }
        return true;
    }
    bool takeFlag(const char* key, bool& value, std::string& error) {
        unsigned flag = 0;
        if (!takeNumber(key, flag, error))
            return false;
        if (flag > 1) {
            error = "line " + std::to_string(lineNumber) + ": '" + key + "' is not 0 or 1";
            return false;
        }
        value = flag == 1;
        return true;
    }
    bool takeText(const char* key, std::string& value, std::string& error) {
        std::string field;
        if (!take(key, field, error))
            return false;
        if (!unescaped(field, value)) {
            error = "line " + std::to_string(lineNumber) + ": '" + key + "' is badly escaped";
            return false;
        }
        return true;
    }
    // True when the next line has key key (without taking it).
    bool nextIs(const char* key) const {
        const size_t length = std::strlen(key);
        return text.compare(at, length, key) == 0 && at + length < text.size() &&
               text[at + length] == ' ';
    }
    bool atEnd() const { return at >= text.size(); }
    unsigned line() const { return lineNumber; }

private:
    bool nextLine(std::string& line) {
        if (at >= text.size())
            return false;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false; // every line ends with a newline
        line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        return true;
    }

    const std::string& text;
    size_t at = 0;
    unsigned lineNumber = 0;
};

} // namespace

std::string CResumeFile::compose(const tagResumeState& s) {
    std::ostringstream out;
    out << kMagic << ' ' << kFormatVersion << '\n';
    out << "source-path " << escaped(s.sourcePath) << '\n';
    out << "source-bytes " << s.source.byteSize << '\n';
    out << "source-sector-size " << s.source.sectorSize << '\n';
    out << "source-file-system " << escaped(s.source.fileSystem) << '\n';
    out << "source-serial " << escaped(s.source.serial) << '\n';
    out << "source-sha256 " << s.source.digest << '\n';
    out << "option-fs " << CVolumeOpener::choiceText(s.fileSystemChoice) << '\n';
    out << "option-sector-size " << s.imageSectorSize << '\n';
    out << "option-report " << int(s.report) << '\n';
    out << "option-dates " << int(s.photoDates) << '\n';
    out << "option-force-output " << int(s.forceOutput) << '\n';
    out << "clusters " << s.clusterCount << '\n';
    out << "cluster-size " << s.clusterSize << '\n';
    out << "next-cluster " << s.nextCluster << '\n';
    out << "next-sector " << s.nextSector << '\n';
    out << "sweep-done " << int(s.sweepDone) << '\n';
    out << "written " << s.writtenBefore << '\n';
    for (const tagResumeFound& found : s.pending)
        out << "found " << found.startSector << ' ' << found.lastSector << ' ' << found.endOffset
            << '\n';
    const std::string body = out.str();
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    return body + kDigestKey + ' ' + CSha256::of(bytes, body.size()) + '\n';
}

bool CResumeFile::parse(const std::string& text, tagResumeState& s, std::string& error) {
    const std::string magic = std::string(kMagic) + ' ';
    if (text.compare(0, magic.size(), magic) != 0) {
        error = "it is not a Vallora resume file";
        return false;
    }
    const size_t firstEnd = text.find('\n');
    unsigned version = 0;
    if (firstEnd == std::string::npos ||
        !number(text.substr(magic.size(), firstEnd - magic.size()), version)) {
        error = "it is not a Vallora resume file";
        return false;
    }
    if (version != kFormatVersion) {
        error = "it was written in format " + std::to_string(version) +
                " (another version of Vallora); this one reads format " +
                std::to_string(kFormatVersion);
        return false;
    }
    // The digest line is the last: everything before it is what it covers.
    const std::string digestKey = std::string("\n") + kDigestKey + ' ';
    const size_t digestAt = text.rfind(digestKey);
    const size_t bodyEnd = digestAt == std::string::npos ? 0 : digestAt + 1;
    const std::string recorded =
        bodyEnd ? text.substr(bodyEnd + digestKey.size() - 1) : std::string();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    if (!bodyEnd || recorded.size() != 65 || recorded.back() != '\n' ||
        recorded.substr(0, 64) != CSha256::of(bytes, bodyEnd)) {
        error = "it is damaged (cut short, or its digest does not match)";
        return false;
    }

    const std::string body = text.substr(0, bodyEnd);
    CLineReader lines(body);
    std::string ignored, choice, digest;
    tagResumeState r;
    const bool ok = lines.take(kMagic, ignored, error) &&
                    lines.takeText("source-path", r.sourcePath, error) &&
                    lines.takeNumber("source-bytes", r.source.byteSize, error) &&
                    lines.takeNumber("source-sector-size", r.source.sectorSize, error) &&
                    lines.takeText("source-file-system", r.source.fileSystem, error) &&
                    lines.takeText("source-serial", r.source.serial, error) &&
                    lines.take("source-sha256", r.source.digest, error) &&
                    lines.take("option-fs", choice, error) &&
                    lines.takeNumber("option-sector-size", r.imageSectorSize, error) &&
                    lines.takeFlag("option-report", r.report, error) &&
                    lines.takeFlag("option-dates", r.photoDates, error) &&
                    lines.takeFlag("option-force-output", r.forceOutput, error) &&
                    lines.takeNumber("clusters", r.clusterCount, error) &&
                    lines.takeNumber("cluster-size", r.clusterSize, error) &&
                    lines.takeNumber("next-cluster", r.nextCluster, error) &&
                    lines.takeNumber("next-sector", r.nextSector, error) &&
                    lines.takeFlag("sweep-done", r.sweepDone, error) &&
                    lines.takeNumber("written", r.writtenBefore, error);
    if (!ok) {
        error = "it is damaged: " + error;
        return false;
    }
    auto invalid = [&](const std::string& what) {
        error = "it is damaged: " + what;
        return false;
    };
    if (r.sourcePath.empty())
        return invalid("no source path");
    if (!isDigest(r.source.digest))
        return invalid("'source-sha256' is not a SHA-256 digest");
    if (!CVolumeOpener::parseChoice(choice, r.fileSystemChoice))
        return invalid("'option-fs' names no file system choice");
    if (r.clusterSize == 0 || r.nextCluster > r.clusterCount)
        return invalid("the position lies outside the volume");
    while (!lines.atEnd()) {
        std::string value;
        if (!lines.take("found", value, error))
            return invalid(error);
        std::istringstream fields(value);
        std::string start, last, end, extra;
        tagResumeFound found;
        if (!(fields >> start >> last >> end) || (fields >> extra) ||
            !number(start, found.startSector) || !number(last, found.lastSector) ||
            !number(end, found.endOffset) || found.lastSector < found.startSector)
            return invalid("line " + std::to_string(lines.line()) + " is not a found image");
        r.pending.push_back(found);
    }
    s = std::move(r);
    return true;
}

bool CResumeFile::fitsVolume(const tagResumeState& s, CVolumeAccess& access, std::string& error) {
    if (s.clusterCount != access.getClusterCount() || s.clusterSize != access.getClusterSize()) {
        error = "the volume's geometry is not the one the interrupted sweep read";
        return false;
    }
    const uint32_t sectorSize = access.getSectorSize();
    const uint64_t perCluster = sectorSize ? s.clusterSize / sectorSize : 0;
    if (!s.sweepDone) {
        const uint64_t first =
            s.nextCluster < s.clusterCount ? access.clusterToSector(s.nextCluster) : 0;
        if (s.nextCluster == 0 || s.nextCluster >= s.clusterCount ||
            access.isClusterUsed(s.nextCluster) || s.nextSector < first ||
            s.nextSector - first >= perCluster) {
            error = "its position is not a free sector of the volume";
            return false;
        }
    }
    const uint64_t deviceSectors = sectorSize ? s.source.byteSize / sectorSize : 0;
    for (const tagResumeFound& found : s.pending) {
        if (found.endOffset >= sectorSize || found.lastSector >= deviceSectors) {
            error = "it lists an image outside the volume";
            return false;
        }
    }
    return true;
}

double CResumeFile::sweptPercent(const tagResumeState& s) {
    if (s.sweepDone || s.clusterCount == 0)
        return 100.0;
    return double(s.nextCluster) * 100 / double(s.clusterCount);
}

CResumeFile::tagCheck CResumeFile::inspect(int folderFd, CDevice& device) {
    tagCheck check;
    switch (read(folderFd, check.state, check.reason)) {
    case ReadResult::Missing:
        return check;
    case ReadResult::Damaged:
        check.verdict = Verdict::Damaged;
        return check;
    case ReadResult::Read:
        break;
    }
    tagSourceIdentity found;
    if (!CSourceIdentity::of(device, found)) {
        check.verdict = Verdict::OtherSource;
        check.reason = "its first bytes cannot be read";
        return check;
    }
    check.reason = CSourceIdentity::difference(check.state.source, found);
    check.verdict = check.reason.empty() ? Verdict::ThisSource : Verdict::OtherSource;
    return check;
}

#ifndef _WIN32

CResumeFile::ReadResult CResumeFile::read(int folderFd, tagResumeState& state, std::string& error) {
    const int fd = ::openat(folderFd, kFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        error = std::string("it cannot be opened: ") + std::strerror(errno);
        return ReadResult::Damaged;
    }
    struct stat info {};
    std::string text;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "it is not a regular file";
    } else if (uint64_t(info.st_size) > kMaxBytes) {
        error = "it is larger than any resume file";
    } else {
        text.resize(size_t(info.st_size));
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                error = std::string("it cannot be read: ") +
                        (got < 0 ? std::strerror(errno) : "it is shorter than it was");
                break;
            }
            done += size_t(got);
        }
    }
    ::close(fd);
    if (!error.empty())
        return ReadResult::Damaged;
    return parse(text, state, error) ? ReadResult::Read : ReadResult::Damaged;
}

bool CResumeFile::write(int folderFd, const tagResumeState& state, uid_t owner, gid_t group,
                        std::string& error) {
    // A name of this process's own, so two sweeps into one folder never
    // write into the same temporary file; it replaces the resume file only
    // when complete and on the disk.
    const std::string temporary =
        std::string(kFileName) + "." + std::to_string(::getpid()) + ".tmp";
    const int fd = ::openat(folderFd, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string text = compose(state);
    size_t done = 0;
    int failure = 0;
    while (done < text.size() && !failure) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            failure = put < 0 ? errno : ENOSPC;
        else
            done += size_t(put);
    }
    if (!failure && owner != uid_t(-1) && ::fchown(fd, owner, group) != 0)
        failure = errno;
    if (!failure && ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && !failure)
        failure = errno;
    if (!failure && ::renameat(folderFd, temporary.c_str(), folderFd, kFileName) != 0)
        failure = errno;
    if (failure) {
        ::unlinkat(folderFd, temporary.c_str(), 0);
        error = std::strerror(failure);
        return false;
    }
    // The rename itself is on the disk once the folder is.
    ::fsync(folderFd);
    return true;
}

bool CResumeFile::remove(int folderFd) {
    if (::unlinkat(folderFd, kFileName, 0) != 0 && errno != ENOENT)
        return false;
    ::fsync(folderFd);
    return true;
}

void CResumeFile::removeStaleTemporaries(int folderFd) {
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR* folder = ::fdopendir(listFd);
    if (!folder) {
        ::close(listFd);
        return;
    }
    const std::string prefix = std::string(kFileName) + ".";
    const std::string suffix = ".tmp";
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() + suffix.size() ||
            name.compare(0, prefix.size(), prefix) ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix))
            continue;
        int pid = 0;
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (number(digits, pid) && pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH))
            continue; // its writer may still be at work
        stale.push_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : stale)
        ::unlinkat(folderFd, name.c_str(), 0);
}

#else

void CResumeFile::removeStaleTemporaries(int) {}

// Sweeps are not resumed on Windows: there is never a resume file.
CResumeFile::ReadResult CResumeFile::read(int, tagResumeState&, std::string&) {
    return ReadResult::Missing;
}

bool CResumeFile::write(int, const tagResumeState&, uid_t, gid_t, std::string& error) {
    error = "sweeps are not resumed on Windows";
    return false;
}

bool CResumeFile::remove(int) {
    return true;
}

#endif
