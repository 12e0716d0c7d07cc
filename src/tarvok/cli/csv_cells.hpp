// How a CSV file of a data folder is split into rows and how a cell becomes
// a number: exactly as the host's csv.reader (default dialect) splits a file
// and its int() and float() read a text, so that a folder reads the same
// whichever front end reads it.
#pragma once

#include "compiler/data_values.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tarvok::cli {

/// The rows of CSV `text` as the host's csv.reader gives them: fields split
/// at commas, quoted fields with doubled quotes, commas and line breaks
/// inside, "\r\n" or "\n" ending a row, an empty line giving an empty row.
/// A carriage return inside an unquoted field, or a field longer than the
/// host's limit, fails (status 1) naming `where` and the row.
std::vector<std::vector<std::string>> csv_rows(std::string_view text, const std::string& where);

/// A cell (its blanks already trimmed) as the host reads a number: what its
/// int() takes is an integer (beyond 64 bits by its digits), else what its
/// float() takes is a number, else the cell is its text. Both take a sign,
/// single underscores between digits, any decimal digit of Unicode and white
/// space around; float() also "1e5", ".5", "5.", "inf", "Infinity", "nan" in
/// any case.
data::Value cell_value(const std::string& trimmed);

}  // namespace tarvok::cli
