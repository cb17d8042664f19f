#pragma once
// The result-message table: the English text of every result and status id the flows post.
#include <cstdint>
#include <string>

// The text of the id, or an empty text when the table has none.
std::string ResultMessageText(std::int32_t id);
