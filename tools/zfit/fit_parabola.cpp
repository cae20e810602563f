// placeholder
#include "cli.hpp"
namespace zcli {
void addParabolaCommand(CLI::App&, Registry&) {}
}
