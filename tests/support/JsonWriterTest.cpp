// The JSON writer's strings must survive any file name: read back by Python's json module.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "common/TempDir.h"
#include "support/JsonWriter.h"

namespace dorvex {
namespace {

// Python's view of the document: repr() of the parsed value, or "" when it does not parse.
std::string PythonRepr(const std::string& json) {
    testkit::TempDir temp;
    std::ofstream(temp / "doc.json", std::ios::binary) << json;
    FILE* pipe = popen(("python3 -c 'import json,sys; print(ascii(json.load(open(sys.argv[1], "
                        "encoding=\"utf-8\"))))' '" +
                        (temp / "doc.json") + "' 2>/dev/null")
                           .c_str(),
                       "r");
    std::string out;
    char buffer[512];
    while (pipe != nullptr && fgets(buffer, sizeof(buffer), pipe) != nullptr) {
        out += buffer;
    }
    const int status = pipe == nullptr ? -1 : pclose(pipe);
    return status == 0 ? out : "";
}

TEST(JsonWriter, AwkwardStringsStayValidJsonAndComeBackAsWritten) {
    CJsonWriter json;
    json.BeginObject();
    json.Member("quote\"and\\backslash", "a \"b\" \\c\\");
    json.Member("controls", std::string_view("\n\t\r\b\f\x01\x1f\x7f", 8));
    json.Member("utf8", "VIDEO_TS/\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC");
    json.Member("invalid", "bad\xFF\xC3(\xED\xA0\x80 end");
    json.Key("list");
    json.BeginArray();
    json.Int(-5);
    json.Bool(false);
    json.Null();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.EndObject();
    EXPECT_EQ(PythonRepr(json.Text()),
              "{'quote\"and\\\\backslash': 'a \"b\" \\\\c\\\\', "
              "'controls': '\\n\\t\\r\\x08\\x0c\\x01\\x1f\\x7f', "
              "'utf8': 'VIDEO_TS/\\xe9t\\xe9 \\u20ac \\U0001f3ac', "
              "'invalid': 'bad\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffd end', "
              "'list': [-5, False, None, {}]}\n")
        << json.Text();
}

TEST(JsonWriter, EmptyContainersAndNesting) {
    CJsonWriter json;
    json.BeginArray();
    json.BeginArray();
    json.EndArray();
    json.String("");
    json.EndArray();
    EXPECT_EQ(json.Text(), "[\n  [],\n  \"\"\n]\n");
}

}  // namespace
}  // namespace dorvex
