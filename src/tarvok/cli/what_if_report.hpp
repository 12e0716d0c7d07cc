// The assumptions an answer rests on and the what-if table, as `solve`
// prints them under the assessment.
#pragma once

#include <string>
#include <vector>

namespace tarvok::cli {

/// One assumption as the loop listed it.
struct ShownAssumption {
    std::string assumption, alternative, where, kind;
};

/// A solve under one reading; numbers as the host writes them, empty when there is none.
struct ShownReading {
    std::string status;  ///< empty when nothing was solved
    std::string objective, answer;
};

/// One explored alternative.
struct ShownAlternative {
    std::string alternative;
    bool compiled = false;
    std::string error;         ///< the first reason it gave no answer, when it gave none
    ShownReading reading;      ///< its solve, when it compiles
    std::string model_file;    ///< where it is kept; empty when it was not written
    bool same_answer = false;  ///< it answers as the main reading does
};

struct ShownTable {
    ShownReading main;
    std::vector<ShownAlternative> alternatives;
    long long unexplored = 0;
    long long budget = 0;  ///< --what-if-max
};

/// "  1. [boundary_condition] every unit is off at the start", then
/// "     where: model line 12" and "     instead: units may run at the start"
/// (each when given); nothing for no assumptions.
std::vector<std::string> assumption_lines(const std::vector<ShownAssumption>& assumptions);

/// The answer under each reading: the main one, then "if instead ..., the
/// answer is ..." per alternative ("..., same answer" when it changes
/// nothing); an alternative that gave no answer says why.
std::vector<std::string> what_if_lines(const ShownTable& table);

/// What a reading answers: "1500.0", "14.5 (objective 1500.0)", or the status
/// when there is no optimum ("infeasible").
std::string reading_text(const ShownReading& reading);

}  // namespace tarvok::cli
