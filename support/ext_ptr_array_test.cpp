#include "support/ext_ptr_array.h"

#include <gtest/gtest.h>

namespace {
struct Counted : VarnockObject {
    explicit Counted(int* deaths) : deaths(deaths) {}
    ~Counted() override { ++*deaths; }
    int* deaths;
};
}  // namespace

TEST(ExtPtrArray, CapacityGrowsByTheStepWhichFollowsTheCapacity) {
    ExtPtrArray a;
    int deaths = 0;
    std::vector<int> capacities;
    for (int i = 0; i < 41; i++) {
        EXPECT_EQ(a.append(new Counted(&deaths)), i + 1);
        if (capacities.empty() || capacities.back() != a.capacity()) capacities.push_back(a.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{5, 10, 20, 40, 80}));
    a.deleteAll();
    EXPECT_EQ(deaths, 41);
    EXPECT_EQ(a.count(), 0);
}

TEST(ExtPtrArray, AccessAndRemoval) {
    ExtPtrArray a;
    int deaths = 0;
    EXPECT_EQ(a.last(), nullptr);
    EXPECT_EQ(a.pop(), nullptr);
    EXPECT_EQ(a.get(0), nullptr);
    EXPECT_EQ(a.removeAt(0), nullptr);
    VarnockObject* items[4];
    for (auto& it : items) {
        it = new Counted(&deaths);
        a.append(it);
    }
    EXPECT_EQ(a.get(-1), nullptr);
    EXPECT_EQ(a.get(4), nullptr);
    EXPECT_EQ(a.last(), items[3]);
    EXPECT_EQ(a.removeAt(1), items[1]);
    EXPECT_EQ(a.count(), 3);
    EXPECT_EQ(a.get(1), items[2]);
    EXPECT_EQ(a.get(2), items[3]);
    EXPECT_EQ(a.pop(), items[3]);
    EXPECT_EQ(a.count(), 2);
    delete items[1];
    delete items[3];
    a.clearCount();
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(deaths, 2);  // clearCount destroys nothing
    delete items[0];
    delete items[2];
}
