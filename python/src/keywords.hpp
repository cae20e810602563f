// The keyword options of each fit, in one table per family: name, default
// (a Python expression) and help. The table makes the single fit's
// signature line and help, and both fit_<family> and fit_many read their
// options through it, so the two take the same names with the same defaults.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "binding.hpp"

namespace zpy {

struct Keyword {
    const char* name;
    const char* fallback;  // the default, as Python reads it ("0", "None", "inf", "'minimum_zone'")
    const char* help;      // lines of help, each after the name's column
};

// A fit function's parameters: the items it fits (positional, required),
// then its keywords; the first `positionalKeywords` of them may also be
// given by position.
class Signature {
public:
    Signature(const char* function, std::vector<const char*> items, std::vector<Keyword> keywords,
              size_t positionalKeywords = 0);

    const char* function() const { return function_; }
    const std::vector<const char*>& items() const { return items_; }
    const std::vector<Keyword>& keywords() const { return keywords_; }
    size_t positionalKeywords() const { return positionalKeywords_; }
    // The default of a keyword (evaluated once); a null object for a name
    // the table does not hold.
    py::object fallback(const char* name) const;
    // "fit_line(points, *, ignore=0, ...)" and the help of every keyword.
    std::string signatureLine() const;
    std::string keywordHelp() const;

private:
    const char* function_;
    std::vector<const char*> items_;
    std::vector<Keyword> keywords_;
    size_t positionalKeywords_;
    // Owned for the process's life: a signature lives in a static, which
    // is destroyed after the interpreter.
    mutable std::vector<py::handle> fallbacks_;
    // The names asked for so far (their pointers) and their keyword's index,
    // or -1 for a name the table does not hold: every call asks for the
    // same few literals, so this spares comparing the strings again.
    mutable std::vector<std::pair<const char*, int>> known_;
};

// The keywords of the robust fits, shared by every family that has them.
std::vector<Keyword> robustKeywords();
// Joins keyword lists (a family's own and the shared ones).
std::vector<Keyword> joined(std::initializer_list<std::vector<Keyword>> parts);

// One call's keyword options, read through a signature. An option of the
// wrong type, or one that the signature does not hold, is a one-line
// TypeError naming it.
class Keywords {
public:
    Keywords(const py::dict& given, const Signature& signature, std::string caller);

    // The option converted to T, or its default when it was not given.
    template <class T>
    T take(const char* name)
    {
        const py::object value = take(name);
        try {
            return value.cast<T>();
        } catch (const py::cast_error&) {
            refuse(name, value, expectedText<T>());
        }
    }
    // The option's value, or its default.
    py::object take(const char* name);
    // Whether the signature holds the option.
    bool has(const char* name) const { return static_cast<bool>(signature_.fallback(name)); }
    // Raises TypeError naming every option that nobody took.
    void finish() const;
    // Raises TypeError: the option `name` cannot be `value`; `expected` says
    // what it takes.
    [[noreturn]] void refuse(const char* name, py::handle value, const char* expected) const;

private:
    template <class T>
    static const char* expectedText();

    py::dict left_;
    const Signature& signature_;
    std::string caller_;
};

// ---- the single fits --------------------------------------------------------------

// Defines fit_<family> from a family type F (binding.hpp) with
//   static const Signature& signature();
//   static py::object item(const py::args& items): the item fit_many would
//       take, made from the single fit's positional items;
// it reads the options as fit_many does and returns the result object.
template <class F>
void defineFit(py::module_& m, const std::string& doc);

// The single fit's positional items and keywords, split per its signature.
struct Call {
    py::tuple items;
    py::dict keywords;
};
Call splitCall(const Signature& s, const py::args& args, const py::kwargs& kwargs);

}  // namespace zpy

#include "fields.hpp"

namespace zpy {

template <class T>
const char* Keywords::expectedText()
{
    if constexpr (std::is_same_v<T, bool>) return "True or False";
    if constexpr (std::is_floating_point_v<T>) return "a number";
    if constexpr (std::is_same_v<T, std::optional<double>>) return "None or a number";
    if constexpr (std::is_integral_v<T>) return "a whole number";
    if constexpr (std::is_same_v<T, std::optional<int64_t>>) return "None or a whole number";
    if constexpr (std::is_same_v<T, std::string>) return "a string";
    return "another type";
}

template <class F>
void defineFit(py::module_& m, const std::string& doc)
{
    const Signature& s = F::signature();
    const std::string full = s.signatureLine() + "\n\n" + doc + "\n\n" + s.keywordHelp();
    m.def(
        s.function(),
        [](const py::args& args, const py::kwargs& kwargs) {
            // Checked here even when called back from inside fit_many's
            // reading of its items (an item's __array__).
            const DeferredChecks atOnce(nullptr);
            const Signature& sig = F::signature();
            const Call call = splitCall(sig, args, kwargs);
            if (call.keywords.empty()) {
                // Every option at its default: read once, the first time.
                static const typename F::Options defaults = [&sig] {
                    Keywords k(py::dict(), sig, sig.function());
                    return F::readOptions(k);
                }();
                const typename F::Input input = F::input(F::item(call.items), py::none(), defaults);
                return resultObject(fitOne<F>(defaults, input));
            }
            Keywords k(call.keywords, sig, sig.function());
            const auto timeout = sig.fallback("timeout") ? k.take<std::optional<double>>("timeout") : std::nullopt;
            const py::object weights = sig.fallback("weights") ? k.take("weights") : py::none();
            const typename F::Options options = F::readOptions(k);
            k.finish();
            const typename F::Input input = F::input(F::item(call.items), weights, options);
            return resultObject(fitOne<F>(options, input, timeout));
        },
        py::doc(full.c_str()));
}

}  // namespace zpy
