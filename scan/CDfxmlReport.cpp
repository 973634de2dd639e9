#include "scan/CDfxmlReport.h"

#include "platform/CDevice.h"
#include "scan/CRecoveredFile.h"
#include "scan/CRecoveryLog.h"

#include <blkid/blkid.h>
#include <libxml/xmlversion.h>
#include <libxml/xmlwriter.h>
#include <openssl/crypto.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr const char* kDfxmlNamespace =
    "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
constexpr const char* kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";
constexpr const char* kDfxmlVersion = "1.1.1";

const xmlChar* x(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

std::string isoTime(time_t when) {
    std::tm parts{};
    char text[32];
    if (!gmtime_r(&when, &parts) ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return "1970-01-01T00:00:00Z";
    return text;
}

// A word as a shell would need it quoted to give it back unchanged.
std::string shellWord(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789-_=+./:,@%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// This process's command line, as typed.
std::string commandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string line;
    size_t from = 0;
    while (from < all.size()) {
        size_t end = all.find('\0', from);
        if (end == std::string::npos)
            end = all.size();
        if (!line.empty())
            line += ' ';
        line += shellWord(all.substr(from, end - from));
        from = end + 1;
    }
    return line;
}

std::string compilerText() {
#if defined(__clang__)
    return std::string("clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("GCC ") + __VERSION__;
#else
    return "unknown";
#endif
}

// Element writing over libxml2's text writer; every failure throws, so
// that a half-made document is never written out.
class CWriter {
public:
    CWriter() : buffer(xmlBufferCreate(), xmlBufferFree), writer(nullptr, xmlFreeTextWriter) {
        if (!buffer)
            throw std::runtime_error("out of memory");
        writer.reset(xmlNewTextWriterMemory(buffer.get(), 0));
        if (!writer)
            throw std::runtime_error("out of memory");
        check(xmlTextWriterSetIndent(writer.get(), 1));
        check(xmlTextWriterSetIndentString(writer.get(), x("  ")));
        check(xmlTextWriterStartDocument(writer.get(), "1.0", "UTF-8", nullptr));
    }

    void start(const char* name) { check(xmlTextWriterStartElement(writer.get(), x(name))); }
    void startNs(const char* prefix, const char* name) {
        check(xmlTextWriterStartElementNS(writer.get(), x(prefix), x(name), nullptr));
    }
    void end() { check(xmlTextWriterEndElement(writer.get())); }
    void attribute(const char* name, const std::string& value) {
        check(xmlTextWriterWriteAttribute(writer.get(), x(name),
                                          x(CDfxmlReport::xmlSafe(value).c_str())));
    }
    void attribute(const char* name, uint64_t value) { attribute(name, std::to_string(value)); }
    void element(const char* name, const std::string& text) {
        check(xmlTextWriterWriteElement(writer.get(), x(name),
                                        x(CDfxmlReport::xmlSafe(text).c_str())));
    }
    void element(const char* name, uint64_t value) { element(name, std::to_string(value)); }
    void elementNs(const char* prefix, const char* name, const std::string& text) {
        check(xmlTextWriterWriteElementNS(writer.get(), x(prefix), x(name), nullptr,
                                          x(CDfxmlReport::xmlSafe(text).c_str())));
    }
    void text(const std::string& text) {
        check(xmlTextWriterWriteString(writer.get(), x(CDfxmlReport::xmlSafe(text).c_str())));
    }
    void byteRun(const tagByteRange& range) {
        start("byte_run");
        attribute("img_offset", range.offset);
        attribute("len", range.length);
        end();
    }

    std::string finish() {
        check(xmlTextWriterEndDocument(writer.get()));
        check(xmlTextWriterFlush(writer.get()));
        return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                           size_t(xmlBufferLength(buffer.get())));
    }

private:
    static void check(int result) {
        if (result < 0)
            throw std::runtime_error("the XML writer failed");
    }

    std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer;
    std::unique_ptr<xmlTextWriter, void (*)(xmlTextWriterPtr)> writer;
};

void writeCreator(CWriter& out, const tagReportSource& source, const CRecoveryLog& log) {
    out.start("creator");
    out.element("program", source.program);
    out.element("version", VALLORA_VERSION);
    out.start("build_environment");
    out.element("compiler", compilerText());
    const char* blkidVersion = nullptr;
    blkid_get_library_version(&blkidVersion, nullptr);
    const std::pair<const char*, std::string> libraries[] = {
        {"libxml2", LIBXML_DOTTED_VERSION},
        {"libexif", VALLORA_LIBEXIF_VERSION},
        {"OpenSSL libcrypto", OpenSSL_version(OPENSSL_FULL_VERSION_STRING)},
        {"libblkid", blkidVersion ? blkidVersion : ""},
    };
    for (const auto& [name, version] : libraries) {
        out.start("library");
        out.attribute("name", name);
        out.attribute("version", version);
        out.end();
    }
    out.end();
    out.start("execution_environment");
    utsname system{};
    if (::uname(&system) == 0) {
        out.element("os_sysname", system.sysname);
        out.element("os_release", system.release);
        out.element("os_version", system.version);
        out.element("host", system.nodename);
        out.element("arch", system.machine);
    }
    out.element("command_line", commandLine());
    out.element("uid", uint64_t(::getuid()));
    out.element("start_time", isoTime(log.start()));
    out.end();
    out.end();
}

void writeFile(CWriter& out, const tagRecoveredFile& file) {
    out.start("fileobject");
    out.element("filename", file.fileName);
    out.element("filesize", file.size);
    if (file.hasPhotoDate)
        out.element("mtime", isoTime(file.photoDate));
    out.start("byte_runs");
    for (const auto& run : file.runs) {
        out.start("byte_run");
        out.attribute("file_offset", run.fileOffset);
        out.attribute("img_offset", run.imageOffset);
        out.attribute("len", run.length);
        out.end();
    }
    out.end();
    if (!file.sha256.empty()) {
        out.start("hashdigest");
        out.attribute("type", "sha256");
        out.text(file.sha256);
        out.end();
    }
    out.end();
}

} // namespace

tagReportSource CDfxmlReport::describeSource(const std::string& program, const CDevice& device,
                                             const std::string& fileSystem,
                                             CVolumeOpener::Choice choice,
                                             CVolumeOpener::Kind kind) {
    tagReportSource source;
    source.program = program;
    source.path = device.path();
    source.size = device.byteSize();
    source.sectorSize = device.sectorSize();
    source.fileSystem = fileSystem;
    source.access = CVolumeOpener::kindText(kind);
    source.mode = CVolumeOpener::choiceText(choice);
    return source;
}

std::string CDfxmlReport::document(const tagReportSource& source, const tagReportScan& scan,
                                   const CRecoveryLog& log) {
    CWriter out;
    out.start("dfxml");
    out.attribute("xmlns", kDfxmlNamespace);
    out.attribute("xmlns:dc", kDublinCoreNamespace);
    out.attribute("xmlns:vallora", kNamespace);
    out.attribute("version", kDfxmlVersion);

    out.start("metadata");
    out.elementNs("dc", "type", "Carve Report");
    out.end();
    writeCreator(out, source, log);
    out.start("source");
    out.element("image_filename", source.path);
    out.end();
    out.startNs("vallora", "source");
    out.elementNs("vallora", "image_size", std::to_string(source.size));
    out.elementNs("vallora", "sector_size", std::to_string(source.sectorSize));
    out.elementNs("vallora", "file_system", source.fileSystem);
    out.elementNs("vallora", "access", source.access);
    out.elementNs("vallora", "mode", source.mode);
    out.end();

    // The source is the volume: a partition device or an image of one.
    out.start("volume");
    out.attribute("offset", uint64_t(0));
    out.start("byte_runs");
    out.byteRun({0, source.size});
    out.end();
    out.element("sector_size", source.sectorSize);
    out.element("block_size", scan.clusterSize);
    if (!source.fileSystem.empty())
        out.element("ftype_str", source.fileSystem);
    out.element("block_count", scan.clusterCount);
    out.element("allocated_only", uint64_t(0));

    out.startNs("vallora", "sweep");
    out.attribute("outcome", scan.outcome);
    // From the first to the last cluster swept (where a stop ended it); with a file
    // system, only its free clusters inside this stretch were read.
    out.startNs("vallora", "swept");
    out.start("byte_runs");
    if (log.sweptRange().length > 0)
        out.byteRun(log.sweptRange());
    out.end();
    out.end();
    out.startNs("vallora", "unreadable");
    out.start("byte_runs");
    for (const auto& range : log.unreadableRanges())
        out.byteRun(range);
    out.end();
    out.end();
    out.end();

    for (const auto& file : log.files())
        writeFile(out, file);
    out.end();
    out.end();
    return out.finish();
}

bool CDfxmlReport::write(int folderFd, const std::string& text, uid_t user, gid_t group,
                         std::string& finalName, std::string& error) {
    CRecoveredFile out(folderFd, kFileName);
    if (!out.open(error))
        return false;
    if ((user != uid_t(-1) || group != gid_t(-1)) && !out.handTo(user, group, error))
        return false;
    if (!out.write(reinterpret_cast<const unsigned char*>(text.data()), text.size(), error))
        return false;
    CRecoveredFile::Placement placement;
    return out.place(placement, finalName, error);
}

std::string CDfxmlReport::xmlSafe(const std::string& text) {
    static const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
    std::string safe;
    safe.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        size_t length = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        }
        bool valid = length > 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8:
        // each of their bytes is replaced.
        if (valid && ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
                      (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF))
            valid = false;
        if (!valid) {
            safe += kReplacement;
            i += 1;
            continue;
        }
        // Characters XML 1.0 cannot hold (controls but tab, line feed and
        // return; U+FFFE and U+FFFF) are replaced whole.
        const bool allowed = (code >= 0x20 || code == 0x09 || code == 0x0A || code == 0x0D) &&
                             code != 0xFFFE && code != 0xFFFF;
        if (allowed)
            safe.append(text, i, length);
        else
            safe += kReplacement;
        i += length;
    }
    return safe;
}
