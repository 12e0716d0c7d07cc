// The docstrings of tarvok.mcp_server.
#pragma once

namespace tarvok::mcp_server::docs {

inline constexpr const char* kModule =
    "The Model Context Protocol server of `tarvok mcp`: tools to check, run, emit, find and generate\n"
    "Tarvok models, the language and examples as resources, and a prompt that walks an agent through them.";

inline constexpr const char* kCreateServer =
    "Make the mcp package's low-level Server with the Tarvok tools, resources and prompt, ready to run.\n\n"
    "Raises ImportError when the mcp package (the mcp extra) is missing.";

inline constexpr const char* kCallTool =
    "Run one tool call as the server does and return {\"content\": text, \"structured\": object,\n"
    "\"is_error\": bool}; no fault of the call raises. generate_model sends no progress from here.";

inline constexpr const char* kServe = "Run the MCP server on stdin and stdout until the client closes them.";

}  // namespace tarvok::mcp_server::docs
