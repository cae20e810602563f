// The zfit command.
#include <cstdio>
#include <cstring>

int runDemo();

namespace {

void usage(std::FILE* out)
{
    std::fputs("usage: zfit demo      fit the embedded sample data of every family and print the results\n", out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) return runDemo();
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    usage(stderr);
    return 2;
}
