// What a fresh office per document costs when its start-up work is done once: LibreOfficeKit
// in a parent that is forked once for every document, against the same without the
// parent's pre-initialisation, and against one process converting everything. Every
// child loads one document, saves it as HTML and ends. Plain C++ and LibreOfficeKit, no Qt.
//
//     bench_lokfork preinit|fresh|single PROFILE_FOLDER OUTPUT_FOLDER DOCUMENT...
//
//   preinit  lok_preinit in the parent, then a forked child per document (lok_init_2 there)
//   fresh    a forked child per document from a parent that did nothing
//   single   one process: lok_init_2 once, every document in it
// Prints, for bench_convert, how many converted, the wall and processor seconds per document
// (the parent's and its children's) and the children's page faults per document.

#define LOK_USE_UNSTABLE_API
#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The office's program folder: as bench_convert found it, or Debian's.
const char* installFolder()
{
    const char* given = std::getenv("DOCUFLUME_OFFICE_PROGRAM");
    return given ? given : "/usr/lib/libreoffice/program";
}

std::string fileUrl(const std::string& given)
{
    char* resolved = realpath(given.c_str(), nullptr);
    std::string path = resolved ? resolved : given;
    if (!resolved && !given.empty() && given.front() != '/') // a page not yet written
        if (char* folder = getcwd(nullptr, 0)) {
            path = std::string(folder) + "/" + given;
            std::free(folder);
        }
    std::free(resolved);
    std::string url = "file://";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~", c))
            url += char(c);
        else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

std::string pageFor(const std::string& output, const std::string& document)
{
    std::string name = document.substr(document.find_last_of('/') + 1);
    return output + "/" + name.substr(0, name.find_last_of('.')) + ".htm";
}

bool convert(LibreOfficeKit* kit, const std::string& document, const std::string& page)
{
    LibreOfficeKitDocument* loaded = kit->pClass->documentLoad(kit, fileUrl(document).c_str());
    if (!loaded)
        return false;
    const bool saved = loaded->pClass->saveAs(loaded, fileUrl(page).c_str(), "html", nullptr) != 0;
    loaded->pClass->destroy(loaded);
    return saved;
}

double seconds(const timeval& time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s preinit|fresh|single PROFILE OUTPUT DOCUMENT...\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const std::string profile = fileUrl(argv[2]);
    const std::string output = argv[3];
    const std::vector<std::string> documents(argv + 4, argv + argc);

    // The office takes its profile from the environment in the parent's pre-initialisation
    // (it reads the configuration before the profile given to lok_init_2 is known), and
    // keeps its temporary files beside the profile.
    setenv("UserInstallation", profile.c_str(), 1);
    const std::string temporary = std::string(argv[2]) + "/tmp";
    mkdir(temporary.c_str(), 0700);
    setenv("TMPDIR", temporary.c_str(), 1);

    const auto began = std::chrono::steady_clock::now();
    int converted = 0;
    if (mode == "single") {
        LibreOfficeKit* kit = lok_init_2(installFolder(), profile.c_str());
        if (!kit)
            return 1;
        for (const std::string& document : documents)
            converted += convert(kit, document, pageFor(output, document));
        // Ends as the children do: without the office's own shutdown, which has no
        // counterpart in a fresh process's cost.
    } else {
        if (mode == "preinit" && lok_preinit(installFolder(), profile.c_str()) != 0)
            return 1;
        for (const std::string& document : documents) {
            const pid_t child = fork();
            if (child == 0) {
                LibreOfficeKit* kit = lok_init_2(installFolder(), profile.c_str());
                _exit(kit && convert(kit, document, pageFor(output, document)) ? 0 : 1);
            }
            int status = 0;
            waitpid(child, &status, 0);
            converted += WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const double n = double(documents.size());
    const double cpu = seconds(self.ru_utime) + seconds(self.ru_stime) +
                       seconds(children.ru_utime) + seconds(children.ru_stime);
    // One line for bench_convert: converted, wall and processor seconds per document, page
    // faults per document in the children.
    std::printf("%d %.4f %.4f %.0f\n", converted, wall / n, cpu / n,
                double(children.ru_minflt + children.ru_majflt) / n);
    std::fflush(stdout);
    _exit(0);
}
