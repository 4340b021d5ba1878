// The bridge's learning runs (one at a time: the library has one learner),
// storing what they learn in the library of remotes, and the library's
// buttons that received frames are matched against.
#include <chrono>
#include <filesystem>

#include "bridge.h"
#include "bridge_support.h"
#include "code_library.h"
#include "frame_report.h"
#include "koblib.h"
#include "koblib_codes.h"
#include "send_request.h"

namespace kobmqtt {

namespace {

// Learning runs: the default and the longest time-out.
constexpr double kDefaultLearnSeconds = 30;
constexpr double kMaxLearnSeconds = 300;

}  // namespace

void Bridge::handleLearn(const std::string& topic, const std::string& payload,
                         const std::string& serial) {
    const nlohmann::json request = commandObject(payload);
    if (!request.is_object()) return publishError(topic, payload, "payload must be a JSON object");
    LearnTarget target;
    try {
        target = learnTarget(request);
    } catch (const CommandError& e) {
        return publishError(topic, payload, e.what());
    }
    target.topic = topic;
    target.payload = payload;
    double timeout = kDefaultLearnSeconds;
    if (request.contains("timeout")) {
        const nlohmann::json& t = request.at("timeout");
        if (!t.is_number() || t.get<double>() < 1 || t.get<double>() > kMaxLearnSeconds)
            return publishError(topic, payload,
                                "timeout must be seconds in 1.." +
                                    std::to_string(static_cast<int>(kMaxLearnSeconds)));
        timeout = t.get<double>();
    }
    nlohmann::json id = request.contains("id") ? request.at("id") : nlohmann::json(nullptr);
    if (!id.is_null() && !id.is_string() && !id.is_number_integer())
        return publishError(topic, payload, "id must be a string or a whole number");
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!devices_.count(serial))
            return publishError(topic, payload, "no device " + serial + " on node " + config_.node);
        if (!learning_.empty())
            return publishError(topic, payload, "a learning run on " + learning_ + " goes on");
    }
    endLearnWatch();
    {
        std::lock_guard<std::mutex> guard(lock_);
        learning_ = serial;
        learnId_ = id;
        learnTarget_ = target;
    }
    kob_learnCCF(serial.c_str(), 1, 0);
    learnWatch_ = std::thread([this, serial, id, topic, payload, timeout] {
        std::unique_lock<std::mutex> guard(lock_);
        if (learnChanged_.wait_for(guard, std::chrono::duration<double>(timeout),
                                   [this] { return learning_.empty(); }))
            return;
        learning_.clear();
        guard.unlock();
        kob_learnCCF(serial.c_str(), 0, 0);
        char text[120];
        std::snprintf(text, sizeof text, "learning on %s did not finish within %.0f s",
                      serial.c_str(), timeout);
        publishJson(base_ + "/" + serial + "/learned",
                    {{"id", id}, {"serial", serial}, {"status", "timeout"}, {"error", text}}, 1,
                    false);
        publishError(topic, payload, text);
    });
}

void Bridge::endLearnWatch() {
    if (learnWatch_.joinable()) learnWatch_.join();
}

void Bridge::learnCallback(const char* serial, int, const char* code) {
    if (instance_ && code && code[0] != '\0') instance_->learned(serial, code);
}

void Bridge::learned(const std::string& serial, const std::string& code) {
    nlohmann::json id;
    LearnTarget target;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (learning_ != serial) return;
        learning_.clear();
        id = learnId_;
        target = learnTarget_;
    }
    learnChanged_.notify_all();
    nlohmann::json message = {{"id", id},
                              {"serial", serial},
                              {"status", "learned"},
                              {"ccf", code},
                              {"decoded", codeDecode(code)},
                              {"time", now()}};
    std::string refused;
    if (!target.remote.empty()) {
        try {
            message.update(storeLearned(target, code));
        } catch (const CommandError& e) {
            refused = e.what();
            message["status"] = "failed";
            message["error"] = refused;
        }
    }
    publishJson(base_ + "/" + serial + "/learned", message, 1, false);
    if (!refused.empty()) publishError(target.topic, target.payload, refused);
}

Bridge::LearnTarget Bridge::learnTarget(const nlohmann::json& request) const {
    LearnTarget t;
    if (request.contains("force")) {
        if (!request.at("force").is_boolean()) throw CommandError("force must be true or false");
        t.force = request.at("force").get<bool>();
    }
    if (!request.contains("remote") && !request.contains("button")) {
        if (t.force) throw CommandError("force needs a remote and a button");
        return t;
    }
    const nlohmann::json remote = request.value("remote", nlohmann::json());
    const nlohmann::json button = request.value("button", nlohmann::json());
    if (!remote.is_string() || !button.is_string())
        throw CommandError("remote and button must both be names");
    if (config_.library.empty())
        throw CommandError("storing a learned button (remote+button) needs --library");
    t.remote = remote.get<std::string>();
    t.button = button.get<std::string>();
    // Said before the button is pressed: a name the library does not
    // take, a file it cannot read, a button that is there.
    try {
        kob::checkButtonNames(t.remote, {t.button});
        const auto library = kob::loadLibrary(config_.library);
        const std::string problem = kob::fileProblem(*library, t.remote);
        if (!problem.empty()) throw CommandError(problem);
        const long at = kobc_remotes_find(library->remotes.get(), t.remote.c_str());
        if (!t.force && at >= 0 &&
            kobc_remote_find_button(library->remotes.get(), static_cast<std::size_t>(at),
                                    t.button.c_str()) >= 0)
            throw CommandError("button \"" + t.button + "\" of remote \"" + t.remote +
                               "\" exists (\"force\": true replaces it)");
    } catch (const kob::UsageError& e) {
        throw CommandError(e.what());
    }
    return t;
}

nlohmann::json Bridge::storeLearned(const LearnTarget& target, const std::string& code) {
    std::unique_ptr<kob::LearnedButton> learned;
    try {
        learned = kob::learnedButton(target.button, code);
    } catch (const kob::UsageError& e) {
        throw CommandError(std::string("the learned code cannot be stored: ") + e.what());
    }
    char message[512] = "";
    const int status =
        kobc_library_put_button(config_.library.c_str(), target.remote.c_str(), &learned->button,
                                target.force, message, sizeof message);
    if (status != KOBC_OK) throw CommandError(message[0] ? message : kobc_error_text(status));
    const std::string file =
        (std::filesystem::u8path(config_.library) / std::filesystem::u8path(target.remote + ".ir"))
            .u8string();
    logLine("learned " + target.remote + "/" + target.button + " (" +
            kob::buttonText(learned->button) + ") into " + file);
    loadButtons();
    publishAllDiscovery();
    return {{"remote", target.remote},
            {"button", target.button},
            {"kind", learned->button.kind == KOBC_BUTTON_PROTOCOL ? "protocol" : "raw"},
            {"code", kob::buttonText(learned->button)},
            {"file", file}};
}

void Bridge::loadButtons() {
    if (config_.library.empty()) return;
    // Taken before the folder is read: a change while it is read is seen
    // at the next look.
    const std::string stamp = folderStamp(config_.library);
    {
        std::lock_guard<std::mutex> guard(lock_);
        libraryStamp_ = stamp;
    }
    std::shared_ptr<const kob::ButtonMatcher> matcher;
    try {
        const auto library = kob::loadLibrary(config_.library);
        for (const auto& problem : library->problems)
            logLine("library: " + problem + " (its buttons are left out)");
        matcher = std::make_shared<const kob::ButtonMatcher>(library->remotes);
    } catch (const std::exception& e) {
        logLine("the library " + config_.library + " cannot be read: " + e.what());
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    buttons_ = std::move(matcher);
}

std::shared_ptr<const kob::ButtonMatcher> Bridge::buttons() {
    std::lock_guard<std::mutex> guard(lock_);
    return buttons_;
}

}  // namespace kobmqtt
