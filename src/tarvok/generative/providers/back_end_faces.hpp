// What the back-ends show the host and read from it, as data: their module
// functions' parameter lists and docstrings, and where a provider's reply
// holds its text and its token counts.
#pragma once

#include "generative/module_face.hpp"
#include "generative/providers/providers.hpp"

#include <string>
#include <string_view>

namespace tarvok::generative::providers {

/// The entry of the back-end function `name`; std::out_of_range for a name
/// the table lacks.
const FunctionDoc& back_end_doc(std::string_view name);

/// The parameter list of a provider's listing function: "prefix=None", or
/// "prefix='gpt'" where the table gives a default prefix.
std::string listing_params(const Provider& provider);

/// Where a reply object holds the reply text and the token counts; one row
/// per provider that answers with such an object. Names are attributes,
/// given as literals (they end in NUL).
struct ReplyShape {
    std::string_view whole_text;  ///< the whole text, used when it is truthy
    std::string_view items;       ///< else the items whose content holds it in parts
    std::string_view parts;       ///< the parts within an item's content ("": the content itself)
    bool item_text = false;       ///< an item with no content gives its own text
    bool mapping_parts = false;   ///< a part that is a mapping gives its "text" entry when that is a str
    bool tolerant = false;        ///< an ordinary error while reading the parts means "no parts"
    bool first_part = false;      ///< with no parts, the text of the first item's first part, read alone
    std::string_view usage;       ///< the counts' holder, with the counts of the prompt and the reply
    std::string_view tokens_in, tokens_out;
};

/// A Responses result: output_text, else the output items' content blocks.
inline constexpr ReplyShape kResponsesReply{.whole_text = "output_text",
                                            .items = "output",
                                            .parts = "",
                                            .item_text = true,
                                            .mapping_parts = true,
                                            .tolerant = true,
                                            .first_part = true,
                                            .usage = "usage",
                                            .tokens_in = "input_tokens",
                                            .tokens_out = "output_tokens"};

/// A Gemini response: text, else the parts of every candidate's content.
inline constexpr ReplyShape kGeminiReply{.whole_text = "text",
                                         .items = "candidates",
                                         .parts = "parts",
                                         .usage = "usage_metadata",
                                         .tokens_in = "prompt_token_count",
                                         .tokens_out = "candidates_token_count"};

}  // namespace tarvok::generative::providers
