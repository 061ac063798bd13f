#include "kit/core/WeakBind.h"

#include <gtest/gtest.h>

namespace {

class Base : public std::enable_shared_from_this<Base> {
public:
    virtual ~Base() = default;
    int calls = 0;
    void poke() { ++calls; }
};

class Listener {
public:
    virtual ~Listener() = default;
    virtual int heard(int value) = 0;
};

class Derived : public Base, public Listener {
public:
    std::vector<std::string> got;
    void take(const std::string& text, int n) { got.push_back(text + std::to_string(n)); }
    int twice(int value) { return 2 * value; }
    int heard(int value) override { return value + 1; }
};

} // namespace

TEST(WeakBind, CallsTheMethodWhileTheObjectLivesAndNothingAfter)
{
    auto object = std::make_shared<Derived>();
    std::function<void(const std::string&, int)> take = kit::bindWeak(*object, &Derived::take);
    std::function<void()> poke = kit::bindWeak(*object, &Base::poke);
    std::function<int(int)> twice = kit::bindWeak(*object, &Derived::twice);
    take("a", 1);
    poke();
    EXPECT_EQ(twice(21), 42);
    EXPECT_EQ(object->got, std::vector<std::string> { "a1" });
    EXPECT_EQ(object->calls, 1);

    // The callables do not keep the object alive.
    std::weak_ptr<Derived> watch = object;
    object.reset();
    EXPECT_TRUE(watch.expired());
    take("b", 2);
    poke();
    EXPECT_EQ(twice(21), 0);
}

TEST(WeakBind, AnObjectNotYetSharedGivesAnInertCallable)
{
    Derived loose;
    auto poke = kit::bindWeak(loose, &Base::poke);
    poke();
    EXPECT_EQ(loose.calls, 0);
    EXPECT_TRUE(kit::weakAs<Listener>(loose).expired());
}

TEST(WeakBind, WeakAsSeesTheObjectThroughAnInterfaceAndSharesItsLifetime)
{
    auto object = std::make_shared<Derived>();
    std::weak_ptr<Listener> listener = kit::weakAs<Listener>(*object);
    ASSERT_TRUE(listener.lock());
    EXPECT_EQ(listener.lock()->heard(1), 2);
    EXPECT_EQ(listener.lock().get(), static_cast<Listener*>(object.get()));
    object.reset();
    EXPECT_TRUE(listener.expired());
}
