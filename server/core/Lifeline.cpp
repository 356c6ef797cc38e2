#include "Lifeline.h"

#include <algorithm>
#include <vector>

namespace kesmar {

namespace {

// A program has a few at most: a search of a short list beats a hash.
// Never freed, so that one living in a static still has it at exit.
std::vector<std::uint64_t> &living()
{
    static auto *ids = new std::vector<std::uint64_t>;
    return *ids;
}

std::uint64_t lastId = 0;

} // namespace

Lifeline::Lifeline() : id_(++lastId)
{
    living().push_back(id_);
}

Lifeline::~Lifeline()
{
    auto &ids = living();
    ids.erase(std::find(ids.begin(), ids.end(), id_));
}

bool Lifeline::alive(std::uint64_t id)
{
    const auto &ids = living();
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

} // namespace kesmar
