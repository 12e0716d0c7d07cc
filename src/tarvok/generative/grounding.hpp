// The grounding report: which numbers of a generated data file the problem's
// description gives, and which the LLM supplied itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative::grounding {

/// How a number of the data file was found in the description.
enum class Match {
    Assumed,     ///< not at all: the LLM supplied it
    Percentage,  ///< a percentage of the description as a fraction (15% as 0.15)
    Scaled,      ///< a number of the description times a power of ten (1.5 million as 1500000, 250 as 0.25)
};

/// One number of the data file that the description does not give as written.
struct Finding {
    std::string text;  ///< as the data file writes it
    double value = 0;
    std::size_t line = 0;   ///< 1-based line of the data file
    std::string line_text;  ///< that line, trimmed (and cut at 200 characters)
    Match match = Match::Assumed;
    std::string source;  ///< the description's number it comes from ("" when assumed)
    int power = 0;       ///< Scaled: the data value is the source times 10^power
};

struct Report {
    std::vector<Finding> assumptions;  ///< numbers the description does not give
    std::vector<Finding> conversions;  ///< numbers it gives in another form (Percentage, Scaled)
};

/// A number the description states: its value and whether it is a percentage.
struct Stated {
    double value = 0;
    bool percent = false;
    std::string text;
};

/// The numbers a description states: digits (with comma thousands
/// separators, a decimal point; "%" or "percent" after one marks a
/// percentage) and number words ("three", "twelve", "dozen", "half").
/// Signs are not kept: a loss of 5 states 5.
std::vector<Stated> stated_numbers(std::string_view description);

/// The numbers of a data file with their lines: numeric literals outside
/// comments and strings, not parts of names (x1) or of ranges' dots.
std::vector<Finding> data_numbers(std::string_view data);

/// The report for one pair. 0 and 1 are taken as given (empty sets, flags,
/// the first index); a number counts once per line. Values compare within a
/// relative 1e-9; a scaling goes by at most nine powers of ten, the smallest
/// power that fits reported.
Report ground(std::string_view description, std::string_view data);

/// "250 (line 3: capacity = [250, 300];)"; conversions say what they come
/// from ("0.15 = 15% as a fraction (line 5: ...)", "15000 = 15 x 10^3 (line 7: ...)").
std::string finding_text(const Finding& finding);

}  // namespace tarvok::generative::grounding
