#include "common/error.hpp"

#include "common/json.hpp"

namespace tarvok {

Error::Error(Kind kind, std::string message) : std::runtime_error(message), kind_(kind), message_(std::move(message)) {}

Error::Error(Kind kind, std::string message, const json::Value& details) : Error(kind, std::move(message)) {
    if (!details.is_null()) details_ = std::make_shared<const json::Value>(details);
}

const json::Value& Error::details() const {
    static const json::Value kNone;
    return details_ ? *details_ : kNone;
}

bool Error::compiled() const {
    const json::Value* compiled = details().find("compiled");
    return compiled && compiled->boolean();
}

Error Error::model(std::string report, bool compiled) {
    return {Kind::Model, std::move(report), json::Value::object({{"compiled", json::Value::of(compiled)}})};
}

Error Error::model(std::string report, bool compiled, const json::Value& records) {
    return {Kind::Model, std::move(report),
            json::Value::object({{"compiled", json::Value::of(compiled)}, {"diagnostics", records}})};
}

Error Error::file(int error_number, const std::string& path, std::string message) {
    return {Kind::File, std::move(message),
            json::Value::object({{"errno", json::Value::of(error_number)}, {"path", json::Value::of(path)}})};
}

Error Error::provider(std::string message, bool outage, bool timeout) {
    return {Kind::Provider, std::move(message),
            json::Value::object({{"outage", json::Value::of(outage)}, {"timeout", json::Value::of(timeout)}})};
}

}  // namespace tarvok
