#pragma once

#include <string>
#include <vector>

namespace quendelin {

// One recipe as the user wrote it. All texts are UTF-8; multi-line fields separate their
// lines with CR LF, the form in which the editor hands them over.
struct Recipe {
    std::string title, ingredients, preparation, remarks, author;
};

// A recipe as read back from a file: each section as its lines, without line endings.
struct RecipeLines {
    std::vector<std::string> title, ingredients, preparation, remarks, author;

    bool operator==(const RecipeLines&) const = default;
};

} // namespace quendelin
