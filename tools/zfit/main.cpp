// The zfit command: fits point files with the library and reports the result.
#include <algorithm>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <zfit/zfit.hpp>

#include "cli.hpp"
#include "demo.hpp"

namespace zcli {

namespace {

// Refuses a number below `least` (or one that is not a number) with what the
// option accepts, so that no limit is printed in full.
CLI::Validator atLeast(double least, const std::string& accepts)
{
    return CLI::Validator(
        [least, accepts](std::string& text) -> std::string {
            std::size_t used = 0;
            double value = 0.0;
            try {
                value = std::stod(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size() || !(value >= least)) return "must be " + accepts;
            return "";
        },
        "");
}

}  // namespace

void addCommonOptions(CLI::App& command, Common& common, const Offers& offers)
{
    command
        .add_option("file", common.input,
                    "the input: CSV or whitespace-separated numbers (a header line and # comments allowed), "
                    "or JSON (an array of rows, each an array of numbers or an object keyed by column name); "
                    "- reads standard input")
        ->required()
        ->type_name("FILE");
    if (offers.weights)
        command.add_flag("--weights", common.weights,
                         "read a weight per row from the column after the coordinates (the weighted fit)");
    command.add_flag("--json", common.json,
                     "print every field of the result record, the status code and its name as JSON");
    command.add_option("--svg", common.svg, "draw the points and the fitted shape into an SVG file")->type_name("FILE");
    command.add_flag("--y-down", common.yDown,
                     "draw the picture in image coordinates: y grows downwards from the origin at the top left");
    if (!offers.search) return;
    command
        .add_option("--timeout", common.timeout,
                    "stop a long search after SECONDS (at its next pass) and report it as cancelled; "
                    "0, the default, sets no limit")
        ->check(atLeast(0.0, "0 (no limit) or more seconds"))
        ->type_name("SECONDS");
    command.add_flag("--quiet,-q", common.quiet, "show no progress of a long search on standard error");
}

std::string exitStatusHelp(const Offers* offers)
{
    const char* limit = offers ? offers->limit : "--max-rms, or --max-roundness";
    std::string text = "Exit status:\n";
    text += limit ? "  0  the fit succeeded and is valid (below the limit of " + std::string(limit) + ")\n"
                  : "  0  the fit succeeded\n";
    text += "  1  the fit succeeded but is not valid\n"
            "  2  a refused option (the message names it and what it accepts), unreadable or malformed "
            "input, or an output file that cannot be written\n"
            "  3  the fit failed on this data: the library's status name is printed on standard error\n";
    if (!offers || offers->search)
        text += std::string("  4  the search was cancelled by --timeout") +
                (offers ? ""
                        : " (line, circle, "
                          "ellipse, roundness)") +
                "\n";
    return text;
}

CLI::App* addFitCommand(CLI::App& app, Registry& registry, const std::string& name, const std::string& description,
                        Common& common, const Offers& offers, const std::function<void(CLI::App&)>& options,
                        Action action)
{
    CLI::App* command = app.add_subcommand(name, description);
    options(*command);
    addCommonOptions(*command, common, offers);
    command->footer(exitStatusHelp(&offers));
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

// Levenshtein's edit distance of two names.
std::size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first argument that is not an option names the subcommand (the
// command's own options take no values).
std::string commandName(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') return argv[i];
    return "";
}

// When the name is no subcommand's: "unknown command", the closest name when
// it is a likely slip, and the list.
std::optional<std::string> unknownCommand(CLI::App& app, const std::string& given)
{
    if (given.empty()) return std::nullopt;
    std::string closest, all;
    std::size_t best = SIZE_MAX;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        std::vector<std::string> names = command->get_aliases();
        names.push_back(command->get_name());
        for (const std::string& name : names) {
            if (name == given) return std::nullopt;
            if (const std::size_t d = editDistance(given, name); d < best) best = d, closest = command->get_name();
        }
        all += (all.empty() ? "" : ", ") + command->get_name();
    }
    std::string message = "unknown command \"" + given + "\"";
    if (best <= std::max<std::size_t>(2, given.size() / 3)) message += "; did you mean " + closest + "?";
    return message + " (commands: " + all + ")";
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Fits lines, circles, ellipses, parabolas and point transforms to point files.", "zfit"};
    app.set_version_flag("--version", std::string("zfit ") + ZFIT_VERSION);
    app.require_subcommand(1);
    app.footer(zcli::exitStatusHelp(nullptr) + "\nRun 'zfit COMMAND --help' for the options of a command.");
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

    const std::string command = commandName(argc, argv);
    if (const std::optional<std::string> unknown = unknownCommand(app, command)) {
        std::cerr << "zfit: " << *unknown << "\n";
        return zcli::exitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        // One line: what was refused and what is accepted.
        std::string what = e.what();
        std::replace(what.begin(), what.end(), '\n', ' ');
        std::cerr << "zfit: " << what << " (see zfit " << (command.empty() ? "" : command + " ") << "--help)\n";
        return zcli::exitUsage;
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
