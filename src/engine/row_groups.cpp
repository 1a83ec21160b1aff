#include "engine/row_groups.h"

#include <algorithm>
#include <string>

#include "platform/item_attributes.h"

namespace qv::engine {

RowGroups::RowGroups(const std::vector<run::MultiRow>& rows) : rows_(rows.size()) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows_[i].group = i;
        for (const std::string* path : {&rows[i].source, &rows[i].destination}) {
            const platform::ItemAttributes a = platform::ReadItemAttributes(path->c_str());
            if (a.isDirectory()) rows_[i].folders.push_back({a.dev, a.ino});
        }
    }
    const auto find = [this](std::size_t i) {
        while (rows_[i].group != i) i = rows_[i].group = rows_[rows_[i].group].group;
        return i;
    };
    const auto shareAFolder = [this](std::size_t i, std::size_t k) {
        return std::any_of(rows_[k].folders.begin(), rows_[k].folders.end(), [&](const auto& id) {
            return std::find(rows_[i].folders.begin(), rows_[i].folders.end(), id) !=
                   rows_[i].folders.end();
        });
    };
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        for (std::size_t k = i + 1; k < rows_.size(); ++k) {
            if (shareAFolder(i, k)) rows_[find(k)].group = find(i);
        }
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i].group = find(i);
}

std::vector<RowGroups::Identity> RowGroups::TopsCopiedWith(std::size_t row) const {
    std::vector<Identity> others;
    if (row >= rows_.size()) return others;
    const std::vector<Identity>& own = rows_[row].folders;
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        if (k == row || rows_[k].group != rows_[row].group) continue;
        for (const Identity& id : rows_[k].folders) {
            if (std::find(own.begin(), own.end(), id) == own.end()) others.push_back(id);
        }
    }
    return others;
}

}  // namespace qv::engine
