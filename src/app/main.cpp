// KINOLITE's launcher. The program lives in a library beside it, loaded here with its
// symbols kept to itself: GStreamer loads its plugins, and their own libraries (the
// decoders' are large), while the program runs, and every symbol they need is looked
// up first in the libraries the program was started with. Started with only this, the
// C library and the dynamic loader, that lookup no longer walks the toolkit's forty
// libraries: the first picture of a 720p MPEG-1 clip comes about 10 ms sooner.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

// The folder this program was started from, links resolved: the library is installed
// beside the program, whatever link led here.
std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string self(path, std::size_t(length));
    const std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string library = ProgramFolder() + "/libkinolite.so";
    void* program = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!program) {
        std::fprintf(stderr, "kinolite: %s\n", dlerror());
        return 127;
    }
    using Main = int (*)(int, char**);
    const auto run = reinterpret_cast<Main>(dlsym(program, "kinolite_main"));
    if (!run) {
        std::fprintf(stderr, "kinolite: %s\n", dlerror());
        return 127;
    }
    // Not closed: the program's threads and its exit handlers live in it.
    return run(argc, argv);
}
