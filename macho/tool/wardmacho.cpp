// wardmacho: prints the Mach-O structures that librulebook's display options
// select, for each file given: its thin object, each slice of a universal
// file and each archive member (in a slice too), in file order.
//
//   wardmacho [-aShlrTMRIHtidocvVXfWZL] [-s SEG SECT] [-p NAME] FILE...
//
// Each letter but -L sets the option variable of the same name; -L lists the
// libraries each object loads. Exit 1 when a file cannot be read, 2 on a
// usage error, else 0.
#include "libstuff/errors.h"
#include "libstuff/objects.h"
#include "libstuff/ofile.h"
#include "options.h"
#include "prefetch.h"
#include "processor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Trace host variables that librulebook expects from its program.
FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

using macho::ofile;

int usage()
{
    fprintf(stderr, "usage: wardmacho [-aShlrTMRIHtidocvVXfWZL] [-s SEG SECT] [-p NAME] FILE...\n");
    return 2;
}

int* flag_for(char c)
{
    switch (c) {
    case 'a':
        return &aflag;
    case 'S':
        return &Sflag;
    case 'h':
        return &hflag;
    case 'l':
        return &lflag;
    case 'r':
        return &rflag;
    case 'T':
        return &Tflag;
    case 'M':
        return &Mflag;
    case 'R':
        return &Rflag;
    case 'I':
        return &Iflag;
    case 'H':
        return &Hflag;
    case 't':
        return &tflag;
    case 'i':
        return &iflag;
    case 'd':
        return &dflag;
    case 'o':
        return &oflag;
    case 'c':
        return &cflag;
    case 'v':
        return &vflag;
    case 'V':
        return &Vflag;
    case 'X':
        return &Xflag;
    case 'f':
        return &fflag;
    case 'W':
        return &Wflag;
    case 'Z':
        return &Zflag;
    default:
        return nullptr;
    }
}

bool list_libraries = false;

// Threads that open files ahead: fewer than three open them more slowly
// than they are examined, and more gain little. They pay for their start
// and end (long on a busy machine) over this many files.
constexpr size_t kMinOpeners = 3;
constexpr size_t kMaxOpeners = 4;
constexpr size_t kMinFilesAhead = 1024;

// The lines of one object's list, written to stdout in one piece.
std::string listing;

// One object: under -L its heading and the names processor() collects.
void process(ofile* of, const char* arch_name, std::string_view heading)
{
    const bool has_header = of->mh != nullptr || of->mh64 != nullptr;
    if (!list_libraries || !has_header) {
        dependant_libraries none{0, nullptr};
        macho::processor(of, arch_name, &none, macho::PROCESSOR_HEADER_ONLY);
        return;
    }
    // The heading goes out before processor() runs: its notes follow it.
    listing.assign(heading);
    listing += ":\n";
    fwrite_unlocked(listing.data(), 1, listing.size(), stdout);
    dependant_libraries libs{0, nullptr};
    macho::processor(of, arch_name, &libs, macho::PROCESSOR_COLLECT);
    size_t length = 0;
    for (int32_t i = 0; i < libs.count; ++i) {
        const size_t n = strlen(libs.names[i]);
        if (listing.size() < length + n + 2)
            listing.resize(2 * (length + n + 2));
        char* at = &listing[length];
        *at++ = '\t';
        memcpy(at, libs.names[i], n);
        at[n] = '\n';
        length += n + 2;
        free(libs.names[i]);
    }
    free(libs.names);
    fwrite_unlocked(listing.data(), 1, length, stdout);
}

// Whether `path` is a regular file this process can open.
bool readable(const char* path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return ok;
}

// 0 when the file was read, 1 when it could not be. `opened` is the file
// opened ahead, or null.
int process_file(const char* path, const macho::opened_file* opened)
{
    // A file not opened ahead (it may have wanted a descriptor the other
    // open files held) is opened again in its turn.
    if (opened != nullptr && opened->fd < 0)
        opened = nullptr;
    ofile of;
    const int mapped = opened != nullptr ? macho::ofile_map_opened(*opened, path, nullptr, nullptr, &of, 0)
                                         : macho::ofile_map(path, nullptr, nullptr, &of, 0);
    if (!mapped) {
        // The scanner reports a file it read and refused, not one it could
        // not read: that one is ours to report.
        if (!readable(path))
            fprintf(stderr, "wardmacho: can't read: %s\n", path);
        return 1;
    }
    macho::for_each_object(&of, path,
                           [&of](const char* arch_name, std::string_view heading) { process(&of, arch_name, heading); });
    macho::ofile_unmap(&of);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    macho::progname = "wardmacho";
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        if (strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        for (const char* p = argv[i] + 1; *p != '\0'; ++p) {
            if (*p == 'L') {
                list_libraries = true;
            } else if (*p == 's') {
                if (i + 2 >= argc)
                    return usage();
                segname = argv[++i];
                sectname = argv[++i];
            } else if (*p == 'p') {
                if (i + 1 >= argc)
                    return usage();
                pflag = argv[++i];
            } else if (int* flag = flag_for(*p)) {
                *flag = 1;
            } else {
                return usage();
            }
        }
    }
    if (i >= argc)
        return usage();
    // Many files make much output: fewer, larger writes when it does not
    // go to a terminal (which keeps its line buffering).
    static char out_buffer[1 << 16];
    if (!isatty(STDOUT_FILENO))
        setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    // Many files are opened ahead on other processors, when there are and
    // descriptors to spare: a file that cannot be opened for want of one
    // would be reported unreadable.
    const size_t count = static_cast<size_t>(argc - i);
    const size_t processors = std::thread::hardware_concurrency();
    const size_t openers = std::min(processors > 0 ? processors - 1 : 0, kMaxOpeners);
    struct rlimit files;
    std::unique_ptr<file_prefetch> ahead;
    if (count >= kMinFilesAhead && openers >= kMinOpeners && getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur >= 4 * file_prefetch::kSlots) {
        try {
            ahead.reset(new file_prefetch(argv + i, count, static_cast<unsigned>(openers)));
        } catch (const std::bad_alloc&) {
            // Then each file is opened in its turn.
        }
    }
    int status = 0;
    for (size_t k = 0; k < count; ++k) {
        if (process_file(argv[i + k], ahead ? &ahead->take(k) : nullptr) != 0)
            status = 1;
        if (ahead)
            ahead->release(k);
    }
    return status;
}
