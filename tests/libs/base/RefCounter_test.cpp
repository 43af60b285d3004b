// SPDX-License-Identifier: Apache-2.0
#include "base/RefCounter.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/intrusive_ptr.hpp>

namespace {

std::atomic<int> g_alive{0};

struct Shared : Korvane::Base::RefCounter {
    Shared() { ++g_alive; }
    ~Shared() override { --g_alive; }
};

}  // namespace

TEST(RefCounter, LastOwnerDeletesAcrossThreads) {
    {
        boost::intrusive_ptr<Shared> p(new Shared);
        EXPECT_EQ(p->refCount(), 1);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([p] {
                for (int i = 0; i < 10000; ++i) {
                    boost::intrusive_ptr<Shared> copy = p;
                    (void)copy;
                }
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(p->refCount(), 1);
        EXPECT_EQ(g_alive.load(), 1);
    }
    EXPECT_EQ(g_alive.load(), 0);
}

TEST(RefCounter, ACopyHasItsOwnOwners) {
    boost::intrusive_ptr<Shared> a(new Shared);
    boost::intrusive_ptr<Shared> b(new Shared(*a));
    EXPECT_EQ(a->refCount(), 1);
    EXPECT_EQ(b->refCount(), 1);
}
