#include "office/collate/schema.hpp"

#include "office/io/columns.hpp"

namespace profiledesk::office {

std::string columnList() {
    std::string list;
    for (const Column& column : kColumns) {
        list.append(column.name).append(", ");
    }
    return list.append(kKeyColumn);
}

std::string columnDefinitions(const SqlTypes& types) {
    std::string definitions = "(";
    for (const Column& column : kColumns) {
        const std::string_view type = column.kind == ColumnKind::whole    ? types.whole
                                      : column.kind == ColumnKind::figure ? types.figure
                                                                          : types.text;
        definitions.append(column.name).append(" ").append(type).append(", ");
    }
    return definitions.append(kKeyColumn).append(" ").append(types.key).append(")");
}

}  // namespace profiledesk::office
