// placeholder
#include "cli.hpp"
namespace zcli {
void addCircleCommand(CLI::App&, Registry&) {}
}
