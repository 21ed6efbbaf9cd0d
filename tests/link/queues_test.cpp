// The request record, the ring, the pending list and the retry engine on
// their own, driven by hand on the test thread.
#include "engine_fixture.h"

#include <stdexcept>
#include <string>

namespace chronavel::test {
namespace {

using RingTest = EngineTest;

TRequestRec Read(uint8_t reg, int32_t retries = 3)
{
    return MakeRequest(0x01, 3000, retries, platform::GetTickCount() + 3000u, kCmdReadRegister, reg,
                       0, nullptr, nullptr, 2, 0);
}

TEST(MakeRequestTest, TakesItsArgumentsInTheRecordsOwnOrder)
{
    auto reply = std::make_shared<std::vector<uint8_t>>(4, 0);
    auto data = std::make_shared<RequestData>(RequestData{{1, 2, 3}, {}});
    const TRequestRec r = MakeRequest(0x11, 2500, 7, 12345, 0x70, 0x00, 0x03, reply, data, 5, 9);
    EXPECT_EQ(r.Addr, 0x11);
    EXPECT_EQ(r.Interval, 2500);
    EXPECT_EQ(r.Retries, 7);
    EXPECT_EQ(r.NextDue, 12345u);
    EXPECT_EQ(r.Cmd, 0x70);
    EXPECT_EQ(r.Param1, 0x00);
    EXPECT_EQ(r.Param2, 0x03);
    EXPECT_EQ(r.ReplyBuf, reply);
    EXPECT_EQ(r.Data, data);
    EXPECT_EQ(r.ReplyMode, 5);
    EXPECT_EQ(r.ReplyIndex, 9);
    EXPECT_EQ(r.Exhausted, 0);
}

TEST_F(RingTest, StandardRequestIsDueThreeSecondsAfterItsBuildAcrossTheWrap)
{
    const TRequestRec r = StandardRequest(0x05, kCmdReadRegister, 0x4D, 0);
    EXPECT_EQ(r.Retries, 3);
    EXPECT_EQ(r.Interval, 3000);
    EXPECT_EQ(r.NextDue, 2000u); // 2^32 - 1,000 + 3,000, modulo 2^32
    EXPECT_EQ(r.ReplyMode, 2);
    EXPECT_FALSE(platform::TickReached(tick.Now(), r.NextDue));
    tick.Advance(2999);
    EXPECT_FALSE(platform::TickReached(tick.Now(), r.NextDue));
    tick.Advance(1);
    EXPECT_TRUE(platform::TickReached(tick.Now(), r.NextDue));
}

TEST_F(RingTest, NeverCreatedRingRefusesRequests)
{
    EXPECT_FALSE(PutRequest(Read(0x25)));
    EXPECT_TRUE(RingEmpty());
    EXPECT_EQ(RingRoom(), 0);
}

TEST_F(RingTest, EmptyRingGivesNothingAndStaysPut)
{
    CreateRing(kRingRequests);
    EXPECT_TRUE(RingEmpty());
    const TRequestRec r = GetRequest();
    EXPECT_EQ(r.Cmd, 0);
    EXPECT_EQ(RingRead(), 0);
    EXPECT_EQ(RingWrite(), 0);
}

TEST_F(RingTest, HoldsOneHundredFiftyInOrderAndRefusesTheNextKeepingTheQueued)
{
    CreateRing(kRingRequests);
    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(PutRequest(Read(static_cast<uint8_t>(i)))) << i;
    EXPECT_FALSE(PutRequest(Read(0xEE)));
    for (int i = 0; i < 150; ++i) {
        ASSERT_FALSE(RingEmpty());
        EXPECT_EQ(GetRequest().Param1, static_cast<uint8_t>(i));
    }
    EXPECT_TRUE(RingEmpty());
}

TEST_F(RingTest, PositionsWrapAroundTheHundredFiftyOneSlots)
{
    CreateRing(kRingRequests);
    for (int round = 0; round < 400; ++round) {
        ASSERT_TRUE(PutRequest(Read(static_cast<uint8_t>(round))));
        EXPECT_EQ(GetRequest().Param1, static_cast<uint8_t>(round));
    }
    EXPECT_EQ(RingRead(), 400 % 151);
    EXPECT_EQ(RingWrite(), 400 % 151);
    // A full ring again after the wrap.
    EXPECT_EQ(RingRoom(), 150);
    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(PutRequest(Read(1)));
    EXPECT_EQ(RingRoom(), 0);
    EXPECT_FALSE(PutRequest(Read(1)));
    GetRequest();
    EXPECT_EQ(RingRoom(), 1);
    EXPECT_TRUE(PutRequest(Read(2)));
}

TEST_F(RingTest, SlotAtRingReadShowsWhatWaitsThere)
{
    CreateRing(kRingRequests);
    EXPECT_EQ(RingReadSlotParam1(), 0);
    PutRequest(Read(0x4D));
    EXPECT_EQ(RingReadSlotParam1(), 0x4D);
    GetRequest();
    EXPECT_EQ(RingReadSlotParam1(), 0); // the next, still zero-filled slot
}

TEST_F(RingTest, TakenSlotLetsGoOfTheDataBlock)
{
    CreateRing(kRingRequests);
    auto data = std::make_shared<RequestData>(RequestData{{1, 2, 3}, {}});
    TRequestRec r = Read(1);
    r.Data = data;
    PutRequest(r);
    r.Data.reset();
    EXPECT_EQ(data.use_count(), 2);
    {
        const TRequestRec taken = GetRequest();
        EXPECT_EQ(taken.Data, data);
    }
    EXPECT_EQ(data.use_count(), 1);
}

using PendingTest = EngineTest;

TEST_F(PendingTest, NewListIsJustTheSentinel)
{
    InitPending();
    EXPECT_TRUE(PendingEmpty());
    EXPECT_EQ(PendHead(), PendTail());
    EXPECT_EQ(PendHead()->Next, nullptr);
}

TEST_F(PendingTest, EntriesKeepTheirOrderAndLinks)
{
    InitPending();
    for (uint8_t reg : {0x25, 0x27, 0x29})
        AddPending(Read(reg));
    TPendingNode* a = PendHead()->Next;
    ASSERT_NE(a, nullptr);
    TPendingNode* b = a->Next;
    TPendingNode* c = b->Next;
    EXPECT_EQ(a->Rec.Param1, 0x25);
    EXPECT_EQ(b->Rec.Param1, 0x27);
    EXPECT_EQ(c->Rec.Param1, 0x29);
    EXPECT_EQ(PendTail(), c);
    EXPECT_EQ(c->Prev, b);
    EXPECT_EQ(a->Prev, PendHead());

    RemovePending(b);
    EXPECT_EQ(a->Next, c);
    EXPECT_EQ(c->Prev, a);
    RemovePending(c);
    EXPECT_EQ(PendTail(), a);
    EXPECT_EQ(a->Next, nullptr);
    RemovePending(nullptr);
    RemovePending(PendHead());
    EXPECT_EQ(PendHead()->Next, a);
    RemovePending(a);
    EXPECT_TRUE(PendingEmpty());
    EXPECT_EQ(PendTail(), PendHead());
}

TEST_F(PendingTest, EitherByteMatchTakesTheOlderEntry)
{
    InitPending();
    TRequestRec older = Read(0x25);
    older.Addr = 0x01;
    older.Cmd = 0x74;
    TRequestRec newer = Read(0x27);
    newer.Addr = 0x02;
    newer.Cmd = 0x72;
    AddPending(older);
    AddPending(newer);
    // The address matches the newer, the command the older: the older wins.
    TPendingNode* found = FindPending(0x02, 0x74);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Rec.Param1, 0x25);
    EXPECT_EQ(PendCursor(), found);
    // Address alone suffices.
    found = FindPending(0x02, 0x99);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Rec.Param1, 0x27);
    EXPECT_EQ(FindPending(0x09, 0x99), nullptr);
    EXPECT_EQ(PendCursor(), nullptr);
}

TEST_F(PendingTest, ExhaustedEntryIsStillMatched)
{
    InitPending();
    TRequestRec r = Read(0x4D);
    r.Exhausted = 1;
    r.Retries = 0;
    AddPending(r);
    TPendingNode* found = FindPending(0x01, kCmdReadRegister);
    ASSERT_NE(found, nullptr);
    RemovePending(found);
    EXPECT_TRUE(PendingEmpty());
}

using RetryTest = EngineTest;

TEST_F(RetryTest, AtMostOneResendPerPassOldestFirst)
{
    InitPending();
    AddPending(Read(0x25));
    AddPending(Read(0x27));
    tick.Advance(3000);
    CheckPending();
    ASSERT_EQ(port->WriteCount(), 1u);
    EXPECT_EQ(port->Writes()[0], BuildShortFrame(0x01, 0x74, 0x25, 0));
    CheckPending();
    ASSERT_EQ(port->WriteCount(), 2u);
    EXPECT_EQ(port->Writes()[1], BuildShortFrame(0x01, 0x74, 0x27, 0));
    CheckPending(); // neither is due again yet
    EXPECT_EQ(port->WriteCount(), 2u);
    TPendingNode* first = PendHead()->Next;
    EXPECT_EQ(first->Rec.Retries, 2);
    EXPECT_EQ(first->Rec.NextDue, tick.Now() + 3000u);
}

TEST_F(RetryTest, SpentEntryIsReportedOnceWithACopyAndStays)
{
    InitPending();
    TRequestRec r = Read(0x4D, 0);
    r.ReplyIndex = 42;
    AddPending(r);
    std::vector<FailureBlock> reports;
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
        EXPECT_EQ(PendCursor(), PendHead()->Next); // the cursor stays on the entry
        reports.push_back(*b);
    });
    CheckPending();
    CheckPending();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Rec.Param1, 0x4D);
    EXPECT_EQ(reports[0].Rec.ReplyIndex, 42);
    EXPECT_EQ(reports[0].Rec.Exhausted, 1);
    EXPECT_EQ(reports[0].Thread, std::this_thread::get_id());
    EXPECT_EQ(host.Syncs(), 1);
    ASSERT_FALSE(PendingEmpty());
    EXPECT_EQ(PendHead()->Next->Rec.Exhausted, 1);
    EXPECT_EQ(port->WriteCount(), 0u);
}

TEST_F(RetryTest, HandlerMayReArmTheEntryInPlace)
{
    InitPending();
    AddPending(Read(0x4D, 0));
    TRequestRec rearmed;
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock>) { rearmed = RearmCursorEntry(); });
    CheckPending();
    EXPECT_EQ(rearmed.Retries, 3);
    EXPECT_EQ(rearmed.Exhausted, 0);
    EXPECT_EQ(rearmed.NextDue, tick.Now() + 3000u);
    const TRequestRec& entry = PendHead()->Next->Rec;
    EXPECT_EQ(entry.Retries, 3);
    EXPECT_EQ(entry.Exhausted, 0);
}

TEST_F(RetryTest, HandlerExceptionIsShownAndTheEngineGoesOn)
{
    InitPending();
    AddPending(Read(0x4D, 0));
    SetRequestFailedHandler(
        [](std::unique_ptr<FailureBlock>) { throw std::runtime_error("Thread not started"); });
    EXPECT_NO_THROW(CheckPending());
    ASSERT_EQ(host.Messages().size(), 1u);
    EXPECT_EQ(host.Messages()[0], "Thread not started");
}

TEST_F(RetryTest, RearmWithoutAnEntryChangesNothing)
{
    InitPending();
    EXPECT_EQ(RearmCursorEntry().Retries, 0);
}

using SendTest = EngineTest;

TEST_F(SendTest, ShortAndDataFramesByTheRecord)
{
    SendRequest(Read(0x4D));
    TRequestRec t = Read(0);
    t.Cmd = kCmdSetTime;
    t.Param1 = 0;
    t.Param2 = 3;
    t.Data = std::make_shared<RequestData>(RequestData{{'a', 'b', 'c'}, {}});
    SendRequest(t);
    ASSERT_EQ(port->WriteCount(), 2u);
    EXPECT_EQ(port->Writes()[0], (Bytes{0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA2}));
    EXPECT_EQ(port->Writes()[1], (Bytes{0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x03, 0x55, 0x54,
                                        0x61, 0x62, 0x63, 0x26}));
}

// Off the exchange thread nothing waits: the stamp is the second nearest the
// frame's end, made afresh at every write.
TEST_F(SendTest, StampedBlockIsMadeAfreshAtEveryWrite)
{
    std::vector<WallTime> stamps;
    TRequestRec t = Read(0);
    t.Cmd = kCmdSetTime;
    t.Param2 = 1;
    t.Data = std::make_shared<RequestData>(RequestData{{0x00}, [&](WallTime s) {
                                                           stamps.push_back(s);
                                                           return std::vector<uint8_t>{
                                                               static_cast<uint8_t>(stamps.size())};
                                                       }});
    SendRequest(t);
    SendRequest(t);
    ASSERT_EQ(port->WriteCount(), 2u);
    EXPECT_EQ(port->Writes()[0][10], 1);
    EXPECT_EQ(port->Writes()[1][10], 2);
    EXPECT_EQ(stamps[0], std::chrono::round<std::chrono::seconds>(stamps[0]));
}

TEST_F(SendTest, BlockShorterThanItsLengthIsPaddedNotOverread)
{
    TRequestRec t = Read(0);
    t.Cmd = kCmdSetTime;
    t.Param2 = 7;
    t.Data = std::make_shared<RequestData>(RequestData{{1, 2}, {}});
    SendRequest(t);
    ASSERT_EQ(port->WriteCount(), 1u);
    const Bytes f = port->Writes()[0];
    ASSERT_EQ(f.size(), 18u);
    EXPECT_EQ(f[10], 1);
    EXPECT_EQ(f[11], 2);
    EXPECT_EQ(f[16], 0);
    EXPECT_EQ(f[17], 3);
}

TEST_F(SendTest, NoPortWritesNothing)
{
    PortHandle.Set(nullptr);
    EXPECT_NO_THROW(SendRequest(Read(0x4D)));
    EXPECT_EQ(port->WriteCount(), 0u);
}

} // namespace
} // namespace chronavel::test
