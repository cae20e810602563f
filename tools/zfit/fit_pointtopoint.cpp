// placeholder
#include "cli.hpp"
namespace zcli {
void addPointToPointCommand(CLI::App&, Registry&) {}
}
