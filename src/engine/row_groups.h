#pragma once
// The rows of a multiple list by the identity (device, inode) of their top folders: rows that
// share a folder form a group, since what one holds the others come to hold. Paths can hide
// that two rows meet (a bind mount, a link); identities cannot.

#include <sys/types.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "run/run_state.h"

namespace qv::engine {

class RowGroups {
  public:
    using Identity = std::pair<dev_t, ino_t>;

    RowGroups() = default;
    explicit RowGroups(const std::vector<run::MultiRow>& rows);

    // The top folders of the other rows of the row's group, less its own: its walk does not
    // enter them, or it would copy them into themselves.
    std::vector<Identity> TopsCopiedWith(std::size_t row) const;

  private:
    struct Row {
        std::vector<Identity> folders;
        std::size_t group = 0;
    };
    std::vector<Row> rows_;
};

}  // namespace qv::engine
