#include "scipy_emitter/generator_checks.hpp"

#include <gtest/gtest.h>

using namespace tarvok::scipy_emitter;

namespace {

TEST(GeneratorChecks, TranslatesOnlyTheKindsTheScriptStates) {
    for (const char* type : {"float", "int", "boolean"}) EXPECT_TRUE(translates_value_type(type)) << type;
    for (const char* type : {"float+", "string", "Float", "", "bool"})
        EXPECT_FALSE(translates_value_type(type)) << type;
    EXPECT_TRUE(translates_sense("maximize"));
    EXPECT_FALSE(translates_sense("maximise"));
    for (const char* op : {"<=", ">=", "==", "range"}) EXPECT_TRUE(translates_operator(op)) << op;
    for (const char* op : {"<", "!=", "=", "in"}) EXPECT_FALSE(translates_operator(op)) << op;
}

TEST(GeneratorChecks, DenseAndSparseFormsAgree) {
    const double cells[] = {0,  2, 0,  //
                            0,  0, 0,  //
                            -1, 0, 3.5};
    SparseRows m = rows_of_dense(cells, 3, 3);
    ASSERT_EQ(m.rows(), 3u);
    EXPECT_EQ(m.nonzeros(), 3u);  // zeros are left out
    EXPECT_EQ(m.starts, (std::vector<int64_t>{0, 1, 1, 3}));
    EXPECT_EQ(m.columns, (std::vector<int32_t>{1, 0, 2}));
    double back[9];
    std::fill(std::begin(back), std::end(back), 7.0);  // every cell is written, zeros included
    fill_dense(m, 3, back);
    EXPECT_TRUE(std::equal(std::begin(cells), std::end(cells), std::begin(back)));

    // The same matrix in compressed rows, with a repeated column summed and a stored zero left out.
    const int64_t starts[] = {0, 2, 3, 5}, indices[] = {1, 1, 0, 2, 0}, overrun[] = {0, 9};
    const double data[] = {1, 1, 0, 3.5, -1};
    SparseRows c = rows_of_csr(starts, indices, data, 3);
    EXPECT_EQ(c.starts, m.starts);
    EXPECT_EQ(c.columns, (std::vector<int32_t>{1, 0, 2}));
    EXPECT_EQ(c.values, (std::vector<double>{2, -1, 3.5}));
    EXPECT_THROW(rows_of_csr(overrun, indices, data, 1), std::out_of_range);  // past the end of indices
    EXPECT_THROW(rows_of_csr(starts, indices, data, 4), std::out_of_range);   // more rows than starts

    EXPECT_TRUE(dense_matrix(1000, 1000, 1'000'000));
    EXPECT_FALSE(dense_matrix(1001, 1000, 1'000'000));
    EXPECT_TRUE(dense_matrix(0, 5, 0));  // no rows: still the (0, columns) array
}

TEST(GeneratorChecks, Messages) {
    EXPECT_EQ(data_file_name_fault("x.NPZ"),
              "'x.NPZ' ends in .npz, the suffix of a script's data file; name the script SCRIPT.py");
    EXPECT_EQ(no_variable_message("ship"),
              "Cannot generate code: the compiled model declares no decision variable 'ship'");
    EXPECT_NE(other_data_message({"a"}).find("compiled with (in 'a'); compile"), std::string::npos);
}

}  // namespace
