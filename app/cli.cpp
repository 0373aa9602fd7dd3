// Start-up: flags, paths, the usage page and the choice of mode.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "app/cli.h"
#include "app/pair.h"
#include "app/walk.h"
#include "exif/tag_names.h"
#include "exif/text.h"
#include "platform/platform.h"

namespace tagloom {

namespace {

// Kept word for word, its spelling included: scripts and users compare this page as it has always read.
const char* const kUsagePage[] = {
    "usage: Tagloom [-ruox] [-v1..f] Src Dst\n",
    "\n",
    "    -r   Recursively walk Src folder\n",
    "    -u   Copy tags that don't match (else, just copy missing tags)\n",
    "    -s   Don't delete backup of original Dst files\n",
    "    -x   Don't update Dst files - show diffs only\n",
    "    -o   Overwrite Exif info in Dst (removes entries)\n",
    "    -t   Remove embedded thumbnail\n",
    "    -vn  Verbose output mask\n",
    "    -?   This page\n",
    "\n",
    "    Src  Source image file or folder\n",
    "    Dst  Destination image file or folder\n",
    "\n",
    "Copies/Adds Exif datum (from IFD0 & SubIFD) from Source to Destionation.\n",
    "If Source & Destionation are folders, the Exif copy is performed on\n",
    "all image files that appear in both the Source & Desitation folders.\n",
    "\n",
    "Note not all jpg exif formats are understood - in particular files\n",
    "encoded with big-endian format exif data will be skipped\n",
    "\n",
};

const char* const kLongOptions[] = {
    "Long options:\n",
    "    --all-formats  Also read and rewrite JPEGs whose Exif segment is not the first\n",
    "                   segment (JFIF files, editors' output), JPEGs without Exif data,\n",
    "                   big-endian Exif data, maker notes that begin with a maker's\n",
    "                   signature, and raw files of every common maker (CR3 included)\n",
    "                   and HEIF/AVIF photos as sources; HEIF/AVIF, PNG, WebP, TIFF and\n",
    "                   JPEG XL as destinations (.heic .avif .png .webp .tif .tiff .jxl)\n",
    "                   In folder mode a file under Dst without a source of its name\n",
    "                   finds it anywhere under Src (-r: at any depth), or by the name\n",
    "                   it begins with before - _ space ( or . (IMG_0001-Edit.jpg and\n",
    "                   IMG_0001 (2).png take IMG_0001.CR2; IMG_00011.jpg does not)\n",
    "    --keep-time    Keep the modification time of each rewritten Dst file\n",
    "    --explain      Show each difference in words under its pair's line: the tag's\n",
    "                   name, its old and new values (with -x: the preview)\n",
    "    --json         Print one JSON object a line instead of text: each pair's result,\n",
    "                   differences and left-behind parts, then the folder's counts\n",
    "    --fail-on-refusal  End with status 3 when a pair was refused\n",
    "    --only LIST    Merge only these tags: names (Orientation), numbers (0x0112,\n",
    "                   MAK0:0x0004), directories (IFD0, Exif, MakerNote, GPS,\n",
    "                   Interop) and dates, separated by commas\n",
    "    --except LIST  Leave these tags out of the merge (a pointer's directory with\n",
    "                   it: --except GPSInfoIFDPointer keeps GPS data out)\n",
    "    --help         This page\n",
    "    --version      The version of tagloom\n",
    "\n",
    "See man tagloom for the whole story.\n",
};

}  // namespace

namespace {

/// Adds one item of a --only or --except list: a tag's name, a tag number (with a directory's prefix
/// where it matters: "MAK0:0x0004"), a directory's name, or "dates". False for anything else.
bool addChosen(TagSet& chosen, const std::string& item) {
    // A directory by its option name ("Exif") or as the listing names it ("SUB0").
    const auto directoryNamed = [](const std::string& name) -> int {
        for (std::size_t i = 0; i < top::kCount; ++i) {
            const TopDirectory& top = kTopDirectories[i];
            if (equalIgnoringAsciiCase(name, top.optionName) || equalIgnoringAsciiCase(name, std::string(top.prefix) + "0"))
                return static_cast<int>(i);
        }
        return -1;
    };
    const auto number = [](const std::string& text, std::uint16_t& tag) {
        if (text.size() < 3 || text.size() > 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
        for (std::size_t i = 2; i < text.size(); ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
        }
        tag = static_cast<std::uint16_t>(std::stoul(text.substr(2), nullptr, 16));
        return true;
    };
    const int directory = directoryNamed(item);
    if (directory >= 0) {
        chosen.whole[directory] = true;
        return true;
    }
    if (equalIgnoringAsciiCase(item, "dates")) {  // DateTime; DateTimeOriginal, -Digitized, their SubSecTime and OffsetTime
        chosen.tags[top::kIfd0].insert(0x0132);
        chosen.tags[top::kExif].insert({0x9003, 0x9004, 0x9290, 0x9291, 0x9292, 0x9010, 0x9011, 0x9012});
        return true;
    }
    std::uint16_t tag = 0;
    const auto colon = item.find(':');
    if (colon != std::string::npos) {
        const int in = directoryNamed(item.substr(0, colon));
        if (in < 0 || !number(item.substr(colon + 1), tag)) return false;
        chosen.tags[in].insert(tag);
        return true;
    }
    // A number stands for that tag in every directory but the maker note; a name in every directory
    // whose tags its table names.
    const bool numbered = number(item, tag);
    const TagName* named = numbered ? nullptr : tagNamed(item);
    if (!numbered && named == nullptr) return false;
    for (std::size_t i = 0; i < top::kCount; ++i) {
        const TopDirectory& top = kTopDirectories[i];
        if (numbered ? top.names != TagTable::none : top.names == named->table)
            chosen.tags[i].insert(numbered ? tag : named->tag);
    }
    return true;
}

}  // namespace

void parseTagList(RunConfig& config, const std::string& option, const std::string& list, const Reporter& usage) {
    if (option == "--only" && !config.Options.only) config.Options.only.emplace();
    TagSet& chosen = option == "--only" ? *config.Options.only : config.Options.except;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, end - start);
        if (!addChosen(chosen, item)) {
            usage.line("Unknown tag in %s: %s\n", option.c_str(), item.c_str());
            printUsage(usage);
        }
        start = end + 1;
    }
}

void parseLongOption(RunConfig& config, const std::string& argument, const Reporter& usage) {
    if (argument.rfind("--only=", 0) == 0 || argument.rfind("--except=", 0) == 0) {
        const auto equals = argument.find('=');
        parseTagList(config, argument.substr(0, equals), argument.substr(equals + 1), usage);
    } else if (argument == "--all-formats") {
        config.Options.allFormats = true;
    } else if (argument == "--keep-time") {
        config.Options.keepTime = true;
    } else if (argument == "--explain") {
        config.Options.explain = true;
    } else if (argument == "--json") {
        config.Options.json = true;
    } else if (argument == "--fail-on-refusal") {
        config.Options.failOnRefusal = true;
    } else if (argument == "--help") {
        for (const char* line : kUsagePage) usage.line("%s", line);
        for (const char* line : kLongOptions) usage.line("%s", line);
        throw UsageStop{0};
    } else if (argument == "--version") {
        usage.line("tagloom %s\n", TAGLOOM_VERSION);
        throw UsageStop{0};
    } else {
        usage.line("Unknown option: %s\n", argument.c_str());
        printUsage(usage);
    }
}

void printUsage(const Reporter& reporter) {
    for (const char* line : kUsagePage) reporter.line("%s", line);
    throw UsageStop{};
}

std::int32_t parseHexMask(const char* text) {
    std::uint32_t value = 0;
    for (; *text != '\0'; ++text) {
        std::uint32_t digit;
        if (*text >= '0' && *text <= '9') {
            digit = static_cast<std::uint32_t>(*text - '0');
        } else if (*text >= 'a' && *text <= 'f') {
            digit = static_cast<std::uint32_t>(*text - 'a' + 10);
        } else if (*text >= 'A' && *text <= 'F') {
            digit = static_cast<std::uint32_t>(*text - 'A' + 10);
        } else {
            break;
        }
        value = value * 16 + digit;  // unsigned: a long run of digits wraps instead of overflowing
    }
    return static_cast<std::int32_t>(value);
}

void parseFlags(RunConfig& config, const std::string& argument, const Reporter& usage) {
    TagloomOptions& Options = config.Options;
    for (std::size_t i = 1; i < argument.size(); ++i) {
        switch (argument[i]) {
            case 'r': Options.recurse = 1; break;
            case 'u': Options.copyMismatched = 1; break;
            case 'o': Options.overwrite = 1; break;
            case 's': Options.keepBackup = 1; break;
            case 't': Options.dropThumbnail = 1; break;
            case 'x':
                Options.showOnly = 1;
                Options.verboseMask |= verbose::kDiffs;
                break;
            case 'v':
                Options.verboseMask = parseHexMask(argument.c_str() + i + 1);
                Options.traceAsked = Options.verboseMask;
                if (Options.verboseMask == 0) printUsage(usage);
                ++i;  // over the first digit only: a second digit is read as a flag letter
                break;
            case '?': printUsage(usage);
            default:
                usage.line("Unknown flag: %c\n", argument[i]);
                printUsage(usage);
        }
    }
}

bool isDirectory(const std::string& path) { return platform::statusOf(path).isDirectory; }

bool isFile(const std::string& path) {
    const platform::FileStatus status = platform::statusOf(path);
    return status.exists && !status.isDirectory;
}

namespace {

/// Reads the arguments into `config`; the usage page and what is wrong go to `usage`.
void readArguments(RunConfig& config, int argc, const char* const* argv, const Reporter& usage) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--only" || argument == "--except") && i + 1 < argc) {
            parseTagList(config, argument, argv[++i], usage);
        } else if (argument.size() > 2 && argument[0] == '-' && argument[1] == '-') {
            parseLongOption(config, argument, usage);
        } else if (!argument.empty() && argument[0] == '-') {
            parseFlags(config, argument, usage);
        } else if (config.Src.empty()) {
            config.Src = argument;
        } else if (config.Dst.empty()) {
            config.Dst = argument;
        } else {
            printUsage(usage);
        }
    }
}

/// What the options ask of one another, once all are read.
void settleOptions(RunConfig& config, const Reporter& usage) {
    TagloomOptions& options = config.Options;
    if (config.Src.empty() || config.Dst.empty()) printUsage(usage);
    // The differences in words, or as JSON, stand instead of the listing that -x turns on; JSON
    // lines leave no room for the traces.
    if (options.explain || options.json) options.verboseMask = options.traceAsked;
    if (options.json && (options.traceAsked & (verbose::kRewrite | verbose::kParse)) != 0) {
        usage.line("Option --json cannot go with the traces of -v2 and -v4\n");
        printUsage(usage);
    }
}

/// The mode the two paths call for; gives the exit status.
int runModes(RunContext& run, const Reporter& usage) {
    const RunConfig& config = run.config;
    // A photo that an interrupted rewrite left only as its backup is put back first.
    const Interrupted leftover = restoreInterrupted(run, config.Dst);
    if (leftover == Interrupted::busy || leftover == Interrupted::backupOnly) return 0;
    if (isDirectory(config.Src) && isDirectory(config.Dst)) {
        walkFolder(run, config.Src);
        run.sink->summary(run.tally);
        return 0;
    }
    if (isFile(config.Src) && isFile(config.Dst)) {
        processPair(run, config.Src, config.Dst);
        return 0;
    }
    // The usage page, as -? prints it, and on standard error what is wrong.
    for (const std::string* path : {&config.Src, &config.Dst}) {
        if (!platform::statusOf(*path).exists) std::fprintf(stderr, "tagloom: '%s' does not exist\n", path->c_str());
    }
    if (platform::statusOf(config.Src).exists && platform::statusOf(config.Dst).exists) {
        const bool folder = isDirectory(config.Src);
        std::fprintf(stderr, "tagloom: '%s' is a %s but '%s' is a %s: give two files or two folders\n",
                     config.Src.c_str(), folder ? "folder" : "file", config.Dst.c_str(), folder ? "file" : "folder");
    }
    usage.line("Src and Dst must either be directories or folders\n");
    printUsage(usage);
}

}  // namespace

int runTagloom(int argc, const char* const* argv, platform::FileSystem& files) {
    const Reporter usage(stdout);
    RunConfig config;
    int status = 0;
    std::unique_ptr<RunContext> run;
    try {
        readArguments(config, argc, argv, usage);
        run = std::make_unique<RunContext>(files, config.Options.json ? jsonSink() : textSink());
        try {
            run->copyBuffer.resize(kCopyBufferSize);
        } catch (const std::bad_alloc&) {
            usage.line("Fatal Error: out of memory for the copy buffer\n");
            throw UsageStop{1};
        }
        settleOptions(config, usage);
        run->config = config;
        run->sink->setTraceMask(config.Options.verboseMask);
        status = runModes(*run, usage);
    } catch (const UsageStop& stop) {
        status = stop.status;
    }
    // Without --all-formats: where that reading would have taken files this one refused or passed
    // over, say so once, apart from the results.
    const std::size_t readable = run ? run->tally.readableWithAllFormats.size() : 0;
    if (!config.Options.allFormats && readable > 0)
        std::fprintf(stderr, "tagloom: %zu %s refused or passed over that --all-formats can read (see tagloom --help)\n",
                     readable, readable == 1 ? "file was" : "files were");
    // Lost output must not pass for a clean run: results nobody could read are a failure.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "tagloom: cannot write the output: %s\n",
                     errno != 0 ? std::strerror(errno) : "write error");
        return 2;
    }
    if (status == 0 && config.Options.failOnRefusal && run && run->tally.refusals > 0) status = 3;
    return status;
}

}  // namespace tagloom
