#pragma once

#include <cctype>
#include <ostream>
#include <string>

namespace quendelin::testing {

// Names a row of a case table after its `what`, so that ctest shows what failed instead of
// the row's bytes.
struct CaseName {
    template <typename Info> std::string operator()(const Info& info) const {
        std::string name = info.param.what;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        }
        return name;
    }
};

} // namespace quendelin::testing

// gtest prints a parameter with PrintTo; a case table row prints as its `what`.
#define QUENDELIN_PRINTS_AS_WHAT(Case)                                                             \
    [[maybe_unused]] inline void PrintTo(const Case& row, std::ostream* os) {                      \
        *os << row.what;                                                                           \
    }
