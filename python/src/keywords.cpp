// Signatures and keyword options (keywords.hpp).
#include "keywords.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <pybind11/eval.h>

namespace zpy {

namespace {

// The column where the keywords' help starts.
constexpr size_t kHelpColumn = 14;

}  // namespace

Signature::Signature(const char* function, std::vector<const char*> items, std::vector<Keyword> keywords,
                     size_t positionalKeywords)
    : function_(function), items_(std::move(items)), keywords_(std::move(keywords)),
      positionalKeywords_(positionalKeywords)
{}

py::object Signature::fallback(const char* name) const
{
    if (fallbacks_.empty()) {
        // Evaluated with the GIL the first time a default is needed (inf is
        // math.inf there, as the signature line shows it).
        py::dict scope;
        scope["inf"] = py::float_(HUGE_VAL);
        for (const Keyword& k : keywords_) fallbacks_.push_back(py::eval(k.fallback, scope).release());
    }
    int index = -1;
    const auto seen = std::find_if(known_.begin(), known_.end(), [name](const auto& k) { return k.first == name; });
    if (seen != known_.end()) {
        index = seen->second;
    } else {
        for (size_t i = 0; i < keywords_.size() && index < 0; ++i)
            if (std::strcmp(keywords_[i].name, name) == 0) index = static_cast<int>(i);
        known_.emplace_back(name, index);
    }
    return index < 0 ? py::object() : py::reinterpret_borrow<py::object>(fallbacks_[static_cast<size_t>(index)]);
}

std::string Signature::signatureLine() const
{
    std::string line = std::string(function_) + "(";
    for (const char* item : items_) line += std::string(item) + ", ";
    for (size_t i = 0; i < keywords_.size(); ++i) {
        if (i == positionalKeywords_) line += "*, ";
        line += std::string(keywords_[i].name) + "=" + keywords_[i].fallback + ", ";
    }
    return line.substr(0, line.size() - 2) + ")";
}

std::string Signature::keywordHelp() const
{
    std::string help;
    for (const Keyword& k : keywords_) {
        std::string name = k.name;
        name.resize(std::max(name.size() + 1, kHelpColumn), ' ');
        std::string text = k.help;
        // Every further line of the help starts at the help's column.
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
            text.insert(at + 1, std::string(kHelpColumn, ' '));
        help += name + text + "\n";
    }
    return help;
}

std::vector<Keyword> robustKeywords()
{
    return {
        {"robust", "None",
         "None (least squares), or \"huber\", \"tukey\", \"clip\": iterated\n"
         "weights that find the outliers themselves, from a deterministic\n"
         "least-median start; the result adds weights, residuals, scale,\n"
         "iterations and converged, lists the outliers in ignored and\n"
         "the covariance of the final weighted problem"},
        {"clip", "None",
         "the clipping factor c in units of the scale (defaults 1.345\n"
         "huber, 4.685 tukey, 3 clip); outliers lie beyond c * scale"},
        {"scale", "None",
         "None: estimated from the residuals of the points in play;\n"
         "a number: the noise level in data units"},
    };
}

std::vector<Keyword> joined(std::initializer_list<std::vector<Keyword>> parts)
{
    std::vector<Keyword> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---- keywords -----------------------------------------------------------------

Keywords::Keywords(const py::dict& given, const Signature& signature, std::string caller)
    : left_(py::dict(given)), signature_(signature), caller_(std::move(caller))
{}

py::object Keywords::take(const char* name)
{
    if (PyObject* given = PyDict_GetItemString(left_.ptr(), name)) {
        py::object value = py::reinterpret_borrow<py::object>(given);
        PyDict_DelItemString(left_.ptr(), name);
        return value;
    }
    py::object fallback = signature_.fallback(name);
    if (!fallback) throw std::logic_error(std::string(signature_.function()) + " has no keyword " + name);
    return fallback;
}

void Keywords::finish() const
{
    if (left_.empty()) return;
    std::string names;
    for (auto item : left_) names += (names.empty() ? "" : ", ") + std::string(py::str(item.first));
    throw py::type_error(caller_ + ": " + signature_.function() + " takes no option " + names);
}

void Keywords::refuse(const char* name, py::handle value, const char* expected) const
{
    // One line: the value's type, and the value itself only when it is short.
    std::string shown =
        py::isinstance<py::str>(value) || PyNumber_Check(value.ptr()) ? std::string(py::repr(value)) : std::string();
    if (shown.size() > 40 || shown.find('\n') != std::string::npos) shown.clear();
    const std::string type = py::str(py::type::of(value).attr("__name__"));
    throw py::type_error(caller_ + ": " + name + " must be " + expected + ", got " +
                         (shown.empty() ? "a " + type : shown + " (" + type + ")"));
}

Call splitCall(const Signature& s, const py::args& args, const py::kwargs& kwargs)
{
    const size_t items = s.items().size();
    const size_t most = items + s.positionalKeywords();
    if (args.size() > most)
        throw py::type_error(std::string(s.function()) + " takes at most " + std::to_string(most) +
                             " positional arguments, got " + std::to_string(args.size()));
    Call call{py::tuple(items), py::dict(kwargs)};
    for (size_t i = 0; i < items; ++i) {
        const char* name = s.items()[i];
        if (i < args.size()) {
            if (call.keywords.contains(name))
                throw py::type_error(std::string(s.function()) + " got " + name + " twice");
            call.items[i] = args[i];
        } else if (call.keywords.contains(name)) {
            call.items[i] = call.keywords.attr("pop")(name);
        } else {
            throw py::type_error(std::string(s.function()) + " needs " + name);
        }
    }
    for (size_t i = items; i < args.size(); ++i) {
        const char* name = s.keywords()[i - items].name;
        if (call.keywords.contains(name)) throw py::type_error(std::string(s.function()) + " got " + name + " twice");
        call.keywords[name] = args[i];
    }
    return call;
}

}  // namespace zpy
