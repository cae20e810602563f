// The zfit command: fits point files with the library and reports the result.
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string_view>

#include <CLI/CLI.hpp>
#include <zfit/zfit.hpp>

#include "cli.hpp"
#include "demo.hpp"

namespace zcli {

void addCommonOptions(CLI::App& command, Common& common, bool offerWeights)
{
    command
        .add_option("file", common.input,
                    "the input: CSV or whitespace-separated numbers (a header line and # comments allowed), "
                    "or JSON (an array of rows, each an array of numbers or an object keyed by column name); "
                    "- reads standard input")
        ->required()
        ->type_name("FILE");
    if (offerWeights)
        command.add_flag("--weights", common.weights,
                         "read a weight per row from the column after the coordinates (the weighted fit)");
    command.add_flag("--json", common.json,
                     "print every field of the result record, the status code and its name as JSON");
    command.add_option("--svg", common.svg, "draw the points and the fitted shape into an SVG file")->type_name("FILE");
    command
        .add_option("--timeout", common.timeout,
                    "stop a long search after SECONDS (at its next pass) and report it as cancelled; "
                    "0, the default, sets no limit")
        ->check(CLI::NonNegativeNumber)
        ->type_name("SECONDS");
    command.add_flag("--quiet,-q", common.quiet, "show no progress on standard error");
}

CLI::App* addFitCommand(CLI::App& app, Registry& registry, const std::string& name, const std::string& description,
                        Common& common, bool offerWeights, const std::function<void(CLI::App&)>& options, Action action)
{
    CLI::App* command = app.add_subcommand(name, description);
    options(*command);
    addCommonOptions(*command, common, offerWeights);
    registry.add(command, std::move(action));
    return command;
}

namespace {

template <class T>
void addDefaulted(CLI::App& command, const std::string& name, T& value, const std::string& text,
                  const std::string& typeName)
{
    command.add_option(name, value, text)->type_name(typeName)->capture_default_str();
}

}  // namespace

void addValue(CLI::App& command, const std::string& name, int32_t& value, const std::string& text,
              const std::string& typeName)
{
    addDefaulted(command, name, value, text, typeName);
}

void addValue(CLI::App& command, const std::string& name, double& value, const std::string& text,
              const std::string& typeName)
{
    addDefaulted(command, name, value, text, typeName);
}

void addValue(CLI::App& command, const std::string& name, std::string& value, const std::string& text,
              const std::string& typeName)
{
    addDefaulted(command, name, value, text, typeName);
}

void addMaxRms(CLI::App& command, double& maxRmsError)
{
    addValue(command, "--max-rms", maxRmsError, "the fit is valid only when rmsError is below R (maxRmsError)", "R");
}

}  // namespace zcli

namespace {

// --trace: each step of the libraries that fails, innermost first, as
// "trace: zfit/line/line_fit.cpp:120: expression -> zmath_errDegenerate".
// Paths are shown from the source tree's zfit/ directory on.
void printTrace(void*, const char* file, int32_t line, const char* expression, zfit_status status)
{
    std::string_view path(file);
    if (const std::size_t at = path.rfind("/zfit/"); at != std::string_view::npos) path.remove_prefix(at + 1);
    std::cerr << "trace: " << path << ':' << line << ": " << expression << " -> " << zfit::statusName(status) << "\n";
}

constexpr const char* kFooter = R"(Exit status:
  0  the fit succeeded and is valid (its error is below --max-rms)
  1  the fit succeeded but is not valid
  2  bad usage, unreadable or malformed input, or an output file that cannot be written
  3  the fit failed: the library's status name is printed on standard error
  4  the search was cancelled by --timeout

Run 'zfit COMMAND --help' for the options of a command.)";

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Fits lines, circles, ellipses, parabolas and point transforms to point files.", "zfit"};
    app.set_version_flag("--version", std::string("zfit ") + ZFIT_VERSION);
    app.require_subcommand(1);
    app.footer(kFooter);
    // Options of the command itself may also follow the subcommand.
    app.fallthrough();
    bool trace = false;
    app.add_flag("--trace", trace,
                 "print each step of the library that fails to standard error, innermost first, as "
                 "\"trace: FILE:LINE: EXPRESSION -> STATUS\", to see which test refused the input");

    zcli::Registry registry;
    zcli::addLineCommand(app, registry);
    zcli::addCircleCommand(app, registry);
    zcli::addEllipseCommand(app, registry);
    zcli::addParabolaCommand(app, registry);
    zcli::addPointToPointCommand(app, registry);
    zcli::addPointToLineCommand(app, registry);
    zcli::addRoundnessCommand(app, registry);

    std::string svgDirectory;
    CLI::App* demo = app.add_subcommand("demo", "fit the embedded sample data of every family and print the results");
    demo->add_option("--svg", svgDirectory, "also draw one picture per family into DIR (created when missing)")
        ->type_name("DIR");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : zcli::exitUsage;
    }

    std::optional<zfit::ScopedTrace> tracing;
    if (trace) tracing.emplace(printTrace, nullptr);
    try {
        if (demo->parsed()) return runDemo(svgDirectory);
        for (auto& [command, action] : registry.actions)
            if (command->parsed()) return action();
    } catch (const zcli::UsageError& e) {
        std::cerr << "zfit: " << e.what() << "\n";
        return zcli::exitUsage;
    } catch (const std::bad_alloc&) {
        std::cerr << "zfit: out of memory\n";
        return zcli::exitFailed;
    } catch (const std::exception& e) {
        std::cerr << "zfit: " << e.what() << "\n";
        return zcli::exitUsage;
    }
    return zcli::exitUsage;
}
