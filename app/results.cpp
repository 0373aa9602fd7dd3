// The two result sinks: lines of text, or one JSON object a line.
#include <cstdio>
#include <utility>

#include "app/run_context.h"

namespace tagloom {

namespace {

class TextSink : public ResultSink {
public:
    explicit TextSink(std::FILE* out) : console_(out) {}
    const Reporter& console() const override { return console_; }
    void setTraceMask(std::int32_t mask) override { console_.setTraceMask(mask); }
    void file(const std::string& path, bool, const std::string& result, const std::string& text) override {
        console_.line("Tagloom: '%s' %s%s\n", path.c_str(), result == "skipped" ? "skipped - " : "", text.c_str());
    }
    void note(const std::string& path, const std::string& text) override {
        console_.line("Tagloom: '%s' %s\n", path.c_str(), text.c_str());
    }
    void pair(PairReport) override {}  // its lines were printed as they came
    void summary(const Tally& tally) override {
        console_.line("Files found %d, checked %d, updated %d\n", tally.filesFound, tally.filesChecked, tally.filesUpdated);
    }

private:
    Reporter console_;
};

class JsonSink : public ResultSink {
public:
    explicit JsonSink(std::FILE* out) : out_(out), console_(nullptr) {}
    const Reporter& console() const override { return console_; }
    void setTraceMask(std::int32_t) override {}  // JSON lines leave no room for traces
    void file(const std::string& path, bool isSource, const std::string& result, const std::string& text) override {
        PairReport report;
        (isSource ? report.source : report.destination) = path;
        report.result = result;
        report.reason = text;
        out_.line("%s\n", toJsonLine(report).c_str());
    }
    void note(const std::string&, const std::string& text) override { notes_.push_back(text); }
    void pair(PairReport report) override {
        report.notes.insert(report.notes.begin(), notes_.begin(), notes_.end());
        notes_.clear();
        out_.line("%s\n", toJsonLine(report).c_str());
    }
    void summary(const Tally& tally) override {
        out_.line("{\"found\":%d,\"checked\":%d,\"updated\":%d}\n", tally.filesFound, tally.filesChecked, tally.filesUpdated);
    }

private:
    Reporter out_;
    Reporter console_;
    std::vector<std::string> notes_;  // of the pair at hand
};

}  // namespace

std::unique_ptr<ResultSink> textSink(std::FILE* out) { return std::make_unique<TextSink>(out); }
std::unique_ptr<ResultSink> jsonSink(std::FILE* out) { return std::make_unique<JsonSink>(out); }

}  // namespace tagloom
