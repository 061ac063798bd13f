#include "transfers/StatusCut.h"

std::vector<std::string_view> splitEvery(std::string_view text, std::string_view separator)
{
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

std::optional<StatusFields> cutStatusLine(std::string_view text)
{
    auto P = splitEvery(text, "[");
    if (P.size() != 2)
        return std::nullopt;
    auto A = splitEvery(P[1], "]");
    if (A.size() < 2)
        return std::nullopt;
    auto B = splitEvery(A[1], ",");
    if (B.size() < 3)
        return std::nullopt;
    auto C = splitEvery(B[1], "|");
    if (C.size() < 2)
        return std::nullopt;
    auto D = splitEvery(B[2], "K/s | ");
    auto E = splitEvery(P[0], " ");
    return StatusFields { std::string(E[0]), std::string(C[1]), std::string(D[0]) };
}
