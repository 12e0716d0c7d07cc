// The one error of the cores: what kind of failure it is, the message callers
// see, and details a caller may read as JSON (the diagnostic records of a
// model that does not compile, a file's error number and path). Each front
// end shows it its own way; the bindings raise the host exception of its
// kind through one translator (bindings/host/errors.hpp).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace tarvok {

namespace json {
class Value;
}

class Error : public std::runtime_error {
  public:
    enum class Kind : uint8_t {
        Value,           ///< a value or a command's usage refused (ValueError)
        Type,            ///< an argument of the wrong kind (TypeError)
        Model,           ///< a model or data that does not compile or expand (SemanticError)
        File,            ///< a file that cannot be read or written (OSError by its error number)
        Runtime,         ///< a failure of the work itself (RuntimeError)
        Provider,        ///< an LLM provider that failed or did not answer in time
        Interrupted,     ///< Ctrl-C (KeyboardInterrupt)
        Memory,          ///< memory ran out (MemoryError)
        NotImplemented,  ///< a construct with no translation (NotImplementedError)
    };

    Error(Kind kind, std::string message);
    Error(Kind kind, std::string message, const json::Value& details);

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    /// What a caller may read beyond the message: an object, or null.
    const json::Value& details() const;

    static Error value(std::string message) { return {Kind::Value, std::move(message)}; }
    static Error type(std::string message) { return {Kind::Type, std::move(message)}; }
    /// `report` rendered as the compiler's diagnostics; `compiled` false when
    /// the compiler refused the texts, true when the expansion failed.
    static Error model(std::string report, bool compiled);
    /// A model's error with its diagnostic records (SemanticError.diagnostics).
    static Error model(std::string report, bool compiled, const json::Value& records);
    /// For a Model error: whether the texts compiled (the expansion failed).
    bool compiled() const;
    /// A file operation that failed with `error_number` on `path`.
    static Error file(int error_number, const std::string& path, std::string message);
    /// A provider's failure: `outage` when the service is down or refusing
    /// work, `timeout` when it did not answer in time.
    static Error provider(std::string message, bool outage, bool timeout);

  private:
    Kind kind_;
    std::string message_;
    std::shared_ptr<const json::Value> details_;  ///< shared: errors are copied as they are thrown
};

}  // namespace tarvok
