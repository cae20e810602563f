// placeholder
#include "cli.hpp"
namespace zcli {
void addEllipseCommand(CLI::App&, Registry&) {}
}
