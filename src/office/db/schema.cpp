#include "office/db/schema.hpp"

#include "office/columns.hpp"

namespace profiledesk::office {

std::string valueColumns() {
    std::string list;
    for (const Column& column : kColumns) {
        list.append(list.empty() ? "" : ", ").append(column.name);
    }
    return list;
}

std::string columnList() { return valueColumns().append(", ").append(kKeyColumn); }

std::string valueDefinitions(const SqlTypes& types) {
    std::string definitions;
    for (const Column& column : kColumns) {
        const std::string_view type = column.kind == ColumnKind::whole    ? types.whole
                                      : column.kind == ColumnKind::figure ? types.figure
                                                                          : types.text;
        definitions.append(definitions.empty() ? "" : ", ").append(column.name).append(" ").append(type);
    }
    return definitions;
}

std::string columnDefinitions(const SqlTypes& types) {
    // Appended piece by piece: g++ 12 at -O3 warns of an overlap in "(" + a string.
    std::string definitions = "(";
    definitions.append(valueDefinitions(types)).append(", ").append(kKeyColumn).append(" ");
    return definitions.append(types.key).append(")");
}

}  // namespace profiledesk::office
