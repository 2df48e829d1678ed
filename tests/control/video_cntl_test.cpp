#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "control/property_store.hpp"
#include "doubles/control_fixture.hpp"
#include "strovia/describe.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

// A property store that keeps defaults out, as a host's store may, and can
// be told to fail on a key.
class MemoryStore : public PropertyStore {
public:
    Result<std::string> read(std::string_view key, std::string_view default_value) override {
        if (fail_key == key) return Error{380, "Invalid property value"};
        auto it = values.find(std::string(key));
        return it == values.end() ? std::string(default_value) : it->second;
    }
    Status write(std::string_view key, std::string_view value,
                 std::string_view default_value) override {
        if (fail_key == key) return Error{383, "Property is read-only"};
        if (value == default_value) {
            values.erase(std::string(key));
        } else {
            values[std::string(key)] = std::string(value);
        }
        return {};
    }
    std::map<std::string, std::string> values;
    std::string fail_key;
};

class ControlShell : public ControlTest {};

TEST_F(ControlShell, PropertiesRoundTripThroughTheStoreAndItsErrorsEndTheHandler) {
    MemoryStore store;
    control.Resourcedir("/srv/course");
    control.AsanaNaME("Vṛkṣāsana");
    ASSERT_TRUE(control.UserControl_WriteProperties(store));
    VideoCntl loaded(host, channel, holder);
    ASSERT_TRUE(loaded.UserControl_ReadProperties(store));
    EXPECT_EQ(loaded.Resourcedir(), "/srv/course");
    EXPECT_EQ(loaded.AsanaNaME(), "Vṛkṣāsana");

    store.fail_key = "Resourcedir";
    VideoCntl failed(host, channel, holder);
    auto read = failed.UserControl_ReadProperties(store);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().number, 380);
    EXPECT_EQ(failed.StoredAsanaNaME, "") << "the handler ended before the second key";
    control.AsanaNaME("x");
    auto write = control.UserControl_WriteProperties(store);
    ASSERT_FALSE(write);
    EXPECT_EQ(store.values.at("AsanaNaME"), "Vṛkṣāsana")
        << "nothing after the failing key is written";
}

TEST_F(ControlShell, EveryWriteSignalsItsPropertyAndDispatchRefusesWhatIsNotThere) {
    ASSERT_TRUE(control.UserControl_InitProperties());
    EXPECT_EQ(control.AsanaNaME(), "0");
    control.AsanaNaME("Trikonasana");
    auto put = std::vector<Variant>{std::string("Trikonasana")};
    ASSERT_TRUE(control.invoke(dispid::kAsanaNaME, InvokeKind::PropertyPut, put));
    auto got = control.invoke(dispid::kAsanaNaME, InvokeKind::PropertyGet);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::get<std::string>(*got), "Trikonasana");
    auto dir = std::vector<Variant>{std::string(" C:\\course\\ ")};
    ASSERT_TRUE(control.invoke(dispid::kResourcedir, InvokeKind::PropertyPut, dir));
    EXPECT_EQ(control.StoredResourcedir, " C:\\course\\ ") << "stored unchanged, not trimmed";
    EXPECT_EQ(control.StoredAsanaNaME, "Trikonasana") << "ids are not swapped";
    // Unchanged values signal too; the handlers never do; a write starts nothing.
    EXPECT_THAT(host.changes, ElementsAre("AsanaNaME", "AsanaNaME", "Resourcedir"));
    EXPECT_TRUE(channel.commands.empty());

    auto unknown = control.invoke(0x60030005, InvokeKind::Method);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(static_cast<std::uint32_t>(unknown.error().number), 0x80020003u);
    EXPECT_NE(unknown.error().text.find("0x60030005"), std::string::npos);

    EXPECT_FALSE(control.invoke(dispid::kVideoEnd, InvokeKind::Method)) << "an event is no method";
    EXPECT_FALSE(control.invoke(dispid::kStopPlay, InvokeKind::PropertyGet));
    EXPECT_FALSE(control.invoke(dispid::kAsanaNaME, InvokeKind::Method));

    auto extra = std::vector<Variant>{std::string("x")};
    auto bad = control.invoke(dispid::kPause, InvokeKind::Method, extra);
    ASSERT_FALSE(bad);
    EXPECT_EQ(static_cast<std::uint32_t>(bad.error().number), 0x8002000Eu);
    EXPECT_FALSE(control.invoke(dispid::kAsanaNaME, InvokeKind::PropertyPut));
    EXPECT_EQ(host.changes.size(), 3u) << "a refused write signals nothing";
}

TEST(Describe, JsonCarriesTheInterfaceInOrder) {
    const auto j = cli::describe_json();
    std::vector<std::string> order;
    for (const auto& m : j["members"]) {
        order.push_back(m["name"].get<std::string>() + " " + m["dispid"].get<std::string>());
    }
    EXPECT_THAT(
        order,
        ElementsAre("fileOpen 0x60030002", "InitAudio 0x60030003", "InitVideo 0x60030004",
                    "Resourcedir 0x68030001", "Resourcedir 0x68030001", "AsanaNaME 0x68030000",
                    "AsanaNaME 0x68030000", "StopPlay 0x6003000A", "Preview 0x6003000B",
                    "Pause 0x6003000C", "Start 0x6003000D", "Ppreview 0x6003000E"));
    // Four distinct identifiers.
    std::set<std::string> guids{j["typelib"]["guid"], j["class"]["guid"],
                                j["interfaces"][0]["guid"], j["interfaces"][1]["guid"]};
    EXPECT_EQ(guids.size(), 4u);
}

}  // namespace
}  // namespace strovia::test
