// placeholder
#include "cli.hpp"
namespace zcli {
void addPointToLineCommand(CLI::App&, Registry&) {}
}
