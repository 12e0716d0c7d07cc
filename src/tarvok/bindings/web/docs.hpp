// The docstrings of tarvok.web.
#pragma once

namespace tarvok::web::docs {

inline constexpr const char* kModule =
    "The page of `tarvok serve`: describe a problem, watch the loop, read, solve, ask and revise, download;\n"
    "and the JSON API it talks to (/api/check, /api/run, /api/emit, /api/generate, /api/feedback,\n"
    "/api/apply, /api/examples).";

inline constexpr const char* kDefaultWorkdir =
    "A new folder under the user's data folder ($XDG_DATA_HOME or ~/.local/share)/tarvok/serve/, named\n"
    "by the time; it is made when an app uses it.";

inline constexpr const char* kCreateApp =
    "Make the Starlette app of the page and its API; every file it writes is under workdir (made when\n"
    "missing; default_workdir() when None). With loopback_only, requests must name this machine\n"
    "(localhost, 127.0.0.1 or [::1]) as their host.\n\n"
    "Raises ImportError when Starlette (the web extra) is missing.";

inline constexpr const char* kServe = "Serve the page with uvicorn until interrupted; open_page opens it in a browser.";

}  // namespace tarvok::web::docs
