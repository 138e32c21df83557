// The bookkeeping of attached iterators, seen through the stand-in checked
// container.
#include "tests/debug/checked_container.h"

#include <array>
#include <optional>

namespace velk::test {
namespace {

using __zeb_debug::_Safe_iterator_base;

void expect_detached(const _Safe_iterator_base& it) {
  EXPECT_EQ(it._M_owner, nullptr);
  EXPECT_EQ(it._M_prev_link, nullptr);
  EXPECT_EQ(it._M_next_link, nullptr);
  EXPECT_TRUE(it._M_singular());
}

TEST(DebugSafeSequence, AttachPushesOntoTheListOfItsConstness) {
  checked_seq s;
  s._M_generation = 3;
  checked_iter a(s), b(s), c(s, true);
  EXPECT_EQ(list_of(s._M_iter_head, &s), (nodes{&b, &a}));
  EXPECT_EQ(list_of(s._M_const_iter_head, &s), (nodes{&c}));
  for (const checked_iter* it : {&a, &b, &c}) {
    EXPECT_EQ(it->_M_generation, 3u);
    EXPECT_FALSE(it->_M_singular());
  }

  checked_iter copy(c); // a copy joins the list of its original's constness
  EXPECT_EQ(list_of(s._M_const_iter_head, &s), (nodes{&copy, &c}));
}

TEST(DebugSafeSequence, DetachKeepsTheListConsistentAtEveryPosition) {
  // The list reads newest first: position 0 is the head, 2 the tail.
  for (bool constant : {false, true}) {
    for (int position = 0; position < 3; ++position) {
      SCOPED_TRACE(testing::Message()
                   << "constant " << constant << ", position " << position);
      checked_seq s;
      std::array<std::optional<checked_iter>, 3> its;
      for (auto& it : its)
        it.emplace(s, constant);
      auto& head = constant ? s._M_const_iter_head : s._M_iter_head;
      nodes before = list_of(head, &s);
      ASSERT_EQ(before.size(), 3u);

      auto& victim = its[2 - position];
      ASSERT_EQ(before[position], &*victim);
      victim->_M_detach();
      expect_detached(*victim);
      before.erase(before.begin() + position);
      EXPECT_EQ(list_of(head, &s), before);
      EXPECT_EQ(constant ? s._M_iter_head : s._M_const_iter_head, nullptr);

      victim.reset(); // destroying a detached iterator changes nothing
      EXPECT_EQ(list_of(head, &s), before);
      its[position == 0 ? 0 : 2].reset(); // and destroying an attached one
      EXPECT_EQ(list_of(head, &s).size(), 1u);
    }
  }
}

TEST(DebugSafeSequence, AttachingToNoneDetachesAndClearsTheGeneration) {
  checked_seq s;
  s._M_generation = 5;
  checked_iter a(s), b(s);
  a.attach(nullptr, false);
  expect_detached(a);
  EXPECT_EQ(a._M_generation, 0u);
  EXPECT_EQ(list_of(s._M_iter_head, &s), (nodes{&b}));
}

TEST(DebugSafeSequence, ReattachingMovesTheIteratorBetweenSequencesAndLists) {
  checked_seq s, t;
  t._M_generation = 9;
  checked_iter a(s), b(s);
  a.attach(&t, true);
  EXPECT_EQ(list_of(s._M_iter_head, &s), (nodes{&b}));
  EXPECT_EQ(list_of(t._M_const_iter_head, &t), (nodes{&a}));
  EXPECT_EQ(t._M_iter_head, nullptr);
  EXPECT_EQ(a._M_generation, 9u);
}

TEST(DebugSafeSequence, DetachAllLeavesSingularIteratorsWithTheirGeneration) {
  checked_iter a, b, c;
  {
    checked_seq s;
    s._M_generation = 7;
    a.attach(&s, false);
    b.attach(&s, false);
    c.attach(&s, true);
    s._M_detach_all();
    EXPECT_EQ(s._M_iter_head, nullptr);
    EXPECT_EQ(s._M_const_iter_head, nullptr);
    for (const checked_iter* it : {&a, &b, &c}) {
      expect_detached(*it);
      EXPECT_EQ(it->_M_generation, 7u);
    }
    a.attach(&s, false);
    b.attach(&s, true);
  } // the sequence's destructor detaches what is still attached
  expect_detached(a);
  expect_detached(b);
}

TEST(DebugSafeSequence, NewGenerationRevalidationAndDetachingTheSingular) {
  checked_seq s;
  checked_iter a(s), b(s, true);
  s.invalidate_all();
  EXPECT_TRUE(a._M_singular());
  EXPECT_TRUE(b._M_singular());
  checked_iter c(s); // attached after the bump
  EXPECT_FALSE(c._M_singular());

  s._M_revalidate_singular();
  for (const checked_iter* it : {&a, &b, &c})
    EXPECT_FALSE(it->_M_singular());

  s.invalidate_all();
  checked_iter d(s, true), e(s);
  s._M_detach_singular();
  for (const checked_iter* it : {&a, &b, &c})
    expect_detached(*it);
  EXPECT_EQ(list_of(s._M_iter_head, &s), (nodes{&e}));
  EXPECT_EQ(list_of(s._M_const_iter_head, &s), (nodes{&d}));
}

TEST(DebugSafeSequence, SwapExchangesIteratorsWithTheirGenerations) {
  checked_seq s, t;
  s._M_generation = 1;
  t._M_generation = 2;
  checked_iter a(s), b(s, true), c(t);
  s.swap(t);
  EXPECT_EQ(s._M_generation, 2u);
  EXPECT_EQ(t._M_generation, 1u);
  EXPECT_EQ(list_of(s._M_iter_head, &s), (nodes{&c}));
  EXPECT_EQ(s._M_const_iter_head, nullptr);
  EXPECT_EQ(list_of(t._M_iter_head, &t), (nodes{&a}));
  EXPECT_EQ(list_of(t._M_const_iter_head, &t), (nodes{&b}));
  for (const checked_iter* it : {&a, &b, &c})
    EXPECT_FALSE(it->_M_singular());

  a._M_detach(); // the new owner's list is the one it leaves
  EXPECT_EQ(t._M_iter_head, nullptr);
  s.swap(s);
  EXPECT_EQ(list_of(s._M_iter_head, &s), (nodes{&c}));
}

TEST(DebugSafeSequence, IteratorsOfOneSequenceCompareEvenWhenSingular) {
  checked_seq s, t;
  checked_iter a(s);
  s.invalidate_all();
  checked_iter b(s), c(t), none;
  ASSERT_TRUE(a._M_singular());
  EXPECT_TRUE(a._M_can_compare(b));
  EXPECT_TRUE(b._M_can_compare(a));
  EXPECT_FALSE(a._M_can_compare(c));
  EXPECT_FALSE(a._M_can_compare(none));
}

TEST(DebugUnordered, LocalIteratorsLiveOnTheLocalLists) {
  checked_unordered u;
  checked_iter plain(u);
  std::optional<checked_local_iter> l1(std::in_place, u);
  checked_local_iter l2(u, true), l3(u);
  EXPECT_EQ(list_of(u._M_iter_head, &u), (nodes{&plain}));
  EXPECT_EQ(list_of(u._M_local_iter_head, &u), (nodes{&l3, &*l1}));
  EXPECT_EQ(list_of(u._M_const_local_iter_head, &u), (nodes{&l2}));
  EXPECT_EQ(l2._M_get_container(), &u);

  l1.reset();
  EXPECT_EQ(list_of(u._M_local_iter_head, &u), (nodes{&l3}));
  l3._M_detach();
  EXPECT_EQ(u._M_local_iter_head, nullptr);
  EXPECT_EQ(l3._M_owner, nullptr);
  l3._M_attach(&u, true);
  EXPECT_EQ(list_of(u._M_const_local_iter_head, &u), (nodes{&l3, &l2}));
  l3._M_attach(nullptr, false);
  EXPECT_EQ(l3._M_generation, 0u);
  EXPECT_EQ(list_of(u._M_const_local_iter_head, &u), (nodes{&l2}));
}

TEST(DebugUnordered, DetachAllAndSwapCoverAllFourLists) {
  checked_unordered u, v;
  u._M_generation = 4;
  checked_iter a(u), b(u, true);
  checked_local_iter c(u), d(u, true);
  u.swap(v);
  EXPECT_EQ(v._M_generation, 4u);
  EXPECT_EQ(list_of(v._M_iter_head, &v), (nodes{&a}));
  EXPECT_EQ(list_of(v._M_const_iter_head, &v), (nodes{&b}));
  EXPECT_EQ(list_of(v._M_local_iter_head, &v), (nodes{&c}));
  EXPECT_EQ(list_of(v._M_const_local_iter_head, &v), (nodes{&d}));
  EXPECT_EQ(c._M_get_container(), &v);
  for (auto* head : {u._M_iter_head, u._M_const_iter_head, u._M_local_iter_head,
                     u._M_const_local_iter_head})
    EXPECT_EQ(head, nullptr);

  v._M_detach_all();
  for (const _Safe_iterator_base* it :
       std::initializer_list<const _Safe_iterator_base*>{&a, &b, &c, &d}) {
    expect_detached(*it);
    EXPECT_EQ(it->_M_generation, 4u);
  }
  for (auto* head : {v._M_iter_head, v._M_const_iter_head, v._M_local_iter_head,
                     v._M_const_local_iter_head})
    EXPECT_EQ(head, nullptr);
}

} // namespace
} // namespace velk::test
