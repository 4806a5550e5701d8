#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTInMemoryPersistence.h"
#include "platform/Paths.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using Date = MQTTFlow::Date;
using Bytes = std::vector<std::uint8_t>;

const Date kStart = Date(std::chrono::seconds(1'700'000'000));

std::shared_ptr<MQTTFlow> store(MQTTPersistence& persistence, const std::string& clientId, std::uint16_t messageId,
                                bool incoming = false, std::uint8_t commandType = 3, Date deadline = kStart) {
    return persistence.storeMessageForClientId(clientId, "t/" + std::to_string(messageId), Bytes{1, 2, 3}, false, 1,
                                               messageId, incoming, commandType, deadline);
}

std::vector<std::uint16_t> messageIds(const std::vector<std::shared_ptr<MQTTFlow>>& flows) {
    std::vector<std::uint16_t> ids;
    for (const auto& flow : flows) ids.push_back(flow->messageId().value_or(0));
    return ids;
}

struct StoreKind {
    const char* name;
    std::function<std::unique_ptr<MQTTPersistence>()> make;
};

// What both stores promise. Client identifiers are unique per test, since
// in-memory flows are shared by the whole process.
class FlowStoreTest : public test::ContainerFixture, public ::testing::WithParamInterface<StoreKind> {
protected:
    std::unique_ptr<MQTTPersistence> persistence_ = GetParam().make();
    std::string client_ = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_P(FlowStoreTest, RefusesOnlyOnceMoreThanMaxMessagesAreHeld) {
    for (std::uint16_t id = 1; id <= 1025; ++id) ASSERT_NE(store(*persistence_, client_, id), nullptr) << id;
    EXPECT_EQ(store(*persistence_, client_, 1026), nullptr);
    EXPECT_EQ(persistence_->allFlowsforClientId(client_, false).size(), 1025U);
    EXPECT_EQ(persistence_->flowforClientId(client_, false, 1026), nullptr);
    // The limit is per direction and per client.
    EXPECT_NE(store(*persistence_, client_, 1026, true), nullptr);
    EXPECT_NE(store(*persistence_, client_ + "-other", 1026), nullptr);
}

TEST_P(FlowStoreTest, StoringUnderATakenKeyOverwritesTheFlow) {
    store(*persistence_, client_, 7);
    const auto later = kStart + std::chrono::seconds(5);
    persistence_->storeMessageForClientId(client_, "new/topic", Bytes{9}, true, 2, 7, false, 6, later);
    const auto flows = persistence_->allFlowsforClientId(client_, false);
    ASSERT_EQ(flows.size(), 1U);
    const auto& flow = *flows.front();
    EXPECT_EQ(flow.clientId(), client_);
    EXPECT_EQ(flow.incomingFlag(), false);
    EXPECT_EQ(flow.messageId(), 7);
    EXPECT_EQ(flow.topic(), "new/topic");
    EXPECT_EQ(flow.data(), Bytes{9});
    EXPECT_EQ(flow.retainedFlag(), true);
    EXPECT_EQ(flow.qosLevel(), 2);
    EXPECT_EQ(flow.commandType(), 6);
    EXPECT_EQ(flow.deadline(), later);
}

TEST_P(FlowStoreTest, CountsAndReadsAFlowWholeAsItsFieldsSay) {
    EXPECT_EQ(persistence_->flowCount(client_, true), 0U);
    const auto later = kStart + std::chrono::seconds(5);
    persistence_->storeMessageForClientId(client_, "a/b", Bytes{4, 5}, true, 2, 9, true, 5, later);
    store(*persistence_, client_, 1);
    store(*persistence_, client_, 2);
    EXPECT_EQ(persistence_->flowCount(client_, true), 1U);
    EXPECT_EQ(persistence_->flowCount(client_, false), 2U);
    const auto flow = persistence_->flowforClientId(client_, true, 9);
    ASSERT_NE(flow, nullptr);
    const auto fields = flow->fields();
    EXPECT_EQ(fields.clientId, client_);
    EXPECT_EQ(fields.incomingFlag, true);
    EXPECT_EQ(fields.retainedFlag, true);
    EXPECT_EQ(fields.commandType, 5);
    EXPECT_EQ(fields.qosLevel, 2);
    EXPECT_EQ(fields.messageId, 9);
    EXPECT_EQ(fields.topic, "a/b");
    EXPECT_EQ(fields.data, (Bytes{4, 5}));
    EXPECT_EQ(fields.deadline, later);
    // The fields of a flow whose values were taken away read absent.
    flow->setTopic(std::nullopt);
    EXPECT_EQ(flow->fields().topic, std::nullopt);
    persistence_->deleteFlow(flow);
    EXPECT_EQ(persistence_->flowCount(client_, true), 0U);
}

TEST_P(FlowStoreTest, WindowSizeCountsOutgoingFlowsInFlightOnly) {
    store(*persistence_, client_, 1, false, 3);
    store(*persistence_, client_, 2, false, 6);
    store(*persistence_, client_, 3, false, 0);  // queued, not sent
    store(*persistence_, client_, 4, true, 5);   // incoming
    EXPECT_EQ(persistence_->windowSize(client_), 2U);
    EXPECT_EQ(persistence_->windowSize(client_ + "-nobody"), 0U);
}

TEST_P(FlowStoreTest, DeleteAllRemovesBothDirectionsOfOneClientOnly) {
    store(*persistence_, client_, 1, false);
    store(*persistence_, client_, 1, true);
    store(*persistence_, client_ + "-other", 1, false);
    persistence_->deleteAllFlowsForClientId(client_);
    EXPECT_TRUE(persistence_->allFlowsforClientId(client_, false).empty());
    EXPECT_TRUE(persistence_->allFlowsforClientId(client_, true).empty());
    EXPECT_EQ(persistence_->allFlowsforClientId(client_ + "-other", false).size(), 1U);
}

TEST_P(FlowStoreTest, DeleteFlowRemovesThatFlowAndLookUpsFindTheRest) {
    store(*persistence_, client_, 1);
    store(*persistence_, client_, 2);
    persistence_->deleteFlow(persistence_->flowforClientId(client_, false, 1));
    persistence_->deleteFlow(nullptr);
    EXPECT_EQ(persistence_->flowforClientId(client_, false, 1), nullptr);
    EXPECT_EQ(persistence_->flowforClientId(client_, true, 2), nullptr);
    ASSERT_NE(persistence_->flowforClientId(client_, false, 2), nullptr);
    EXPECT_EQ(persistence_->flowforClientId(client_, false, 2)->topic(), "t/2");
}

TEST_P(FlowStoreTest, ChangesThroughAFlowAreSeenByTheNextLookUp) {
    store(*persistence_, client_, 4)->setCommandType(6);
    const auto flow = persistence_->flowforClientId(client_, false, 4);
    ASSERT_NE(flow, nullptr);
    EXPECT_EQ(flow->commandType(), 6);
    flow->setTopic(std::nullopt);
    flow->setData(Bytes{});
    EXPECT_EQ(persistence_->flowforClientId(client_, false, 4)->topic(), std::nullopt);
    EXPECT_EQ(persistence_->flowforClientId(client_, false, 4)->data(), Bytes{});
}

TEST_P(FlowStoreTest, AFlowDeletedIsStoredAgainUnderItsKeyAtOnce) {
    store(*persistence_, client_, 9, true, 5);
    persistence_->deleteFlow(persistence_->flowforClientId(client_, true, 9));
    const auto again = persistence_->storeMessageForClientId(client_, "again", Bytes{4}, false, 2, 9, true, 5, kStart);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(persistence_->flowforClientId(client_, true, 9)->topic(), "again");
    EXPECT_EQ(persistence_->allFlowsforClientId(client_, true).size(), 1U);
}

// A broker reuses an identifier as soon as its exchange ends: a window of
// flows slides over few identifiers, each one stored, listed and deleted many
// times, and deleted flows never count against the limit.
TEST_P(FlowStoreTest, ManyExchangesReusingIdentifiersAreNeverRefused) {
    persistence_->setMaxMessages(20);
    constexpr std::uint16_t kWindow = 20;
    constexpr std::uint16_t kIdentifiers = 50;
    for (int index = 0; index < 3000; ++index) {
        const auto id = static_cast<std::uint16_t>(index % kIdentifiers + 1);
        ASSERT_NE(store(*persistence_, client_, id, true, 5), nullptr) << index;
        if (index % 7 == 0) persistence_->sync();
        if (index >= kWindow) {
            const auto oldest = static_cast<std::uint16_t>((index - kWindow) % kIdentifiers + 1);
            persistence_->deleteFlow(persistence_->flowforClientId(client_, true, oldest));
        }
    }
    EXPECT_EQ(persistence_->allFlowsforClientId(client_, true).size(), kWindow);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, FlowStoreTest,
    ::testing::Values(StoreKind{"SQLite", [] { return std::make_unique<MQTTCoreDataPersistence>(); }},
                      StoreKind{"SQLiteFile",
                                [] {
                                    auto persistence = std::make_unique<MQTTCoreDataPersistence>();
                                    persistence->setPersistent(true);
                                    return persistence;
                                }},
                      StoreKind{"InMemory", [] { return std::make_unique<MQTTInMemoryPersistence>(); }}),
    [](const auto& info) { return std::string(info.param.name); });

class MQTTCoreDataPersistenceTest : public test::ContainerFixture {
protected:
    static std::unique_ptr<MQTTCoreDataPersistence> persistentStore() {
        auto persistence = std::make_unique<MQTTCoreDataPersistence>();
        persistence->setPersistent(true);
        return persistence;
    }
    static std::filesystem::path storeFile() { return platform::Paths::documents() / "MQTTClient"; }
};

TEST_F(MQTTCoreDataPersistenceTest, ListsTheEarliestDeadlineFirst) {
    MQTTCoreDataPersistence persistence;
    store(persistence, "c", 1, false, 3, kStart + std::chrono::seconds(30));
    store(persistence, "c", 2, false, 3, kStart + std::chrono::milliseconds(1));
    store(persistence, "c", 3, false, 3, kStart + std::chrono::seconds(-1));
    EXPECT_EQ(messageIds(persistence.allFlowsforClientId("c", false)), (std::vector<std::uint16_t>{3, 2, 1}));
}

TEST_F(MQTTCoreDataPersistenceTest, AFileStoreReopenedKeepsWhatWasSynced) {
    {
        auto persistence = persistentStore();
        persistence->storeMessageForClientId("c", "a/b", Bytes{0, 255}, true, 2, 40, false, 0, kStart);
        persistence->storeMessageForClientId("c", "in", Bytes{}, false, 2, 41, true, 5, kStart);
        persistence->sync();
        // Stored after the last sync: gone with the store object, and never
        // seen by another store on the file meanwhile.
        store(*persistence, "c", 42);
        EXPECT_EQ(messageIds(persistentStore()->allFlowsforClientId("c", false)), std::vector<std::uint16_t>{40});
    }
    const auto persistence = persistentStore();
    const auto outgoing = persistence->allFlowsforClientId("c", false);
    ASSERT_EQ(messageIds(outgoing), std::vector<std::uint16_t>{40});
    EXPECT_EQ(outgoing[0]->topic(), "a/b");
    EXPECT_EQ(outgoing[0]->data(), (Bytes{0, 255}));
    EXPECT_EQ(outgoing[0]->retainedFlag(), true);
    EXPECT_EQ(outgoing[0]->commandType(), 0);
    EXPECT_EQ(outgoing[0]->deadline(), kStart);
    ASSERT_NE(persistence->flowforClientId("c", true, 41), nullptr);
    EXPECT_EQ(persistence->flowforClientId("c", true, 41)->data(), Bytes{});
    // An in-memory store of the same process sees nothing of the file.
    MQTTCoreDataPersistence inMemory;
    EXPECT_TRUE(inMemory.allFlowsforClientId("c", false).empty());
}

TEST_F(MQTTCoreDataPersistenceTest, CountsFollowChangesOfAnotherStoreOnTheFile) {
    const auto first = persistentStore();
    const auto second = persistentStore();
    store(*first, "c", 1);
    store(*first, "c", 2);
    first->sync();
    EXPECT_EQ(second->flowCount("c", false), 2U);
    EXPECT_EQ(first->flowCount("c", false), 2U);
    second->deleteFlow(second->flowforClientId("c", false, 1));
    store(*second, "c", 3, true);
    second->sync();
    EXPECT_EQ(first->flowCount("c", false), 1U);
    EXPECT_EQ(first->flowCount("c", true), 1U);
    // A flow moved to another direction is counted there.
    first->flowforClientId("c", false, 2)->setIncomingFlag(true);
    EXPECT_EQ(first->flowCount("c", false), 0U);
    EXPECT_EQ(first->flowCount("c", true), 2U);
    first->deleteAllFlowsForClientId("c");
    EXPECT_EQ(second->flowCount("c", true), 0U);
}

TEST_F(MQTTCoreDataPersistenceTest, MaxSizeRefusesOnlyAFileStoreGrownPastIt) {
    MQTTCoreDataPersistence inMemory;
    inMemory.setMaxSize(0);
    store(inMemory, "c", 1);
    inMemory.sync();
    EXPECT_EQ(inMemory.fileSize(), 0U);
    EXPECT_NE(store(inMemory, "c", 2), nullptr);

    const auto onFile = persistentStore();
    onFile->setMaxSize(1);
    EXPECT_NE(store(*onFile, "c", 1), nullptr);  // nothing measured yet
    onFile->sync();
    EXPECT_EQ(onFile->fileSize(), std::filesystem::file_size(storeFile()));
    EXPECT_EQ(store(*onFile, "c", 2), nullptr);
    onFile->setMaxSize(onFile->fileSize());
    EXPECT_NE(store(*onFile, "c", 2), nullptr);
}

TEST_F(MQTTCoreDataPersistenceTest, AStoreFileThatCantBeUsedRefusesStoresAndIsLeftAsItWas) {
    std::ofstream(storeFile(), std::ios::binary) << "not a database at all, not even close to one";
    const auto before = std::filesystem::file_size(storeFile());
    {
        const auto persistence = persistentStore();
        EXPECT_EQ(store(*persistence, "c", 1), nullptr);
        EXPECT_EQ(persistence->createFlowforClientId("c", false, 1), nullptr);
        EXPECT_TRUE(persistence->allFlowsforClientId("c", false).empty());
        EXPECT_EQ(persistence->flowforClientId("c", false, 1), nullptr);
        EXPECT_EQ(persistence->windowSize("c"), 0U);
        persistence->deleteAllFlowsForClientId("c");
        persistence->sync();
    }
    EXPECT_EQ(std::filesystem::file_size(storeFile()), before);

    std::filesystem::remove(storeFile());
    std::filesystem::create_directory(storeFile());
    EXPECT_EQ(store(*persistentStore(), "c", 1), nullptr);
}

TEST_F(MQTTCoreDataPersistenceTest, AFlowHandleOutlivingItsFlowReadsNothingAndChangesNothing) {
    MQTTCoreDataPersistence persistence;
    const auto kept = store(persistence, "c", 1);
    const auto other = store(persistence, "c", 2);
    // Two flows can't share a key: the change is refused.
    other->setMessageId(1);
    EXPECT_EQ(other->messageId(), 2);
    persistence.deleteFlow(persistence.flowforClientId("c", false, 1));
    EXPECT_EQ(kept->messageId(), std::nullopt);
    EXPECT_EQ(kept->topic(), std::nullopt);
    kept->setTopic("ghost");
    EXPECT_EQ(messageIds(persistence.allFlowsforClientId("c", false)), std::vector<std::uint16_t>{2});
    // A flow of another store is not this store's to delete.
    MQTTCoreDataPersistence elsewhere;
    persistence.deleteFlow(store(elsewhere, "c", 2));
    EXPECT_NE(persistence.flowforClientId("c", false, 2), nullptr);
}

TEST_F(MQTTCoreDataPersistenceTest, CallsFromManyThreadsEachLand) {
    MQTTCoreDataPersistence persistence;
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&persistence, t] {
            const std::string clientId = "c" + std::to_string(t);
            for (int i = 1; i <= kEach; ++i) {
                const auto flow = store(persistence, clientId, static_cast<std::uint16_t>(i));
                if (flow) flow->setCommandType(6);
                persistence.sync();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(persistence.windowSize("c" + std::to_string(t)), std::uint64_t{kEach});
}

TEST(MQTTInMemoryPersistenceTest, ListsTheLowestMessageIdFirstAndIsSharedByEveryStore) {
    MQTTInMemoryPersistence first;
    store(first, "shared", 300, false, 3, kStart);
    store(first, "shared", 5, false, 3, kStart + std::chrono::hours(1));
    MQTTInMemoryPersistence second;
    store(second, "shared", 17);
    EXPECT_EQ(messageIds(first.allFlowsforClientId("shared", false)), (std::vector<std::uint16_t>{5, 17, 300}));
    second.deleteFlow(first.flowforClientId("shared", false, 300));
    { MQTTInMemoryPersistence(); }
    EXPECT_EQ(messageIds(MQTTInMemoryPersistence().allFlowsforClientId("shared", false)),
              (std::vector<std::uint16_t>{5, 17}));
    first.deleteAllFlowsForClientId("shared");
    EXPECT_TRUE(second.allFlowsforClientId("shared", false).empty());
}

}  // namespace
}  // namespace ambrell
