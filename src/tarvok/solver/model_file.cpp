#include "solver/model_file.hpp"

#include "common/files.hpp"
#include "solver/lp_labels.hpp"
#include "solver/mps.hpp"

#include <cerrno>

namespace tarvok::solver {

int write_model_file(const Program& program, const std::filesystem::path& target, NameFormat format,
                     const LpWriter& write_lp) {
    try {
        if (format == NameFormat::Mps) {
            files::write_file_atomically(target, mps_text(program));
            return 0;
        }
        // The library writes by the path and need not notice a full disk; it
        // writes a temporary beside the target, which moves into place only
        // when the library reports success and the file ends as a complete
        // one does.
        std::vector<std::string> columns = program.export_column_names(format);
        std::vector<std::string> rows = program.export_row_names(format);
        files::FileWrittenByPath out(target);
        if (!write_lp(columns, rows, out.path())) return EIO;
        // The library names no objective and knows nothing of folded rows; the file gets both afterwards.
        if (!label_lp_file(out.path(), lp_labels(program, columns))) return EIO;
        out.commit("end\n");
        return 0;
    } catch (const files::FileError& e) {
        return e.error_number();
    }
}

}  // namespace tarvok::solver
