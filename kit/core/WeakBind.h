#pragma once
// Weak links to shared objects, for callbacks and delegates that must not keep
// their receiver alive nor reach it once it has gone.
//
// bindWeak(object, &Class::method) makes a callable that holds the object by
// std::weak_ptr and calls the method with whatever it is given; once the object
// is gone the call does nothing (a method with a result gives a value-initialised
// one). The object must be owned by a std::shared_ptr when bound (it shares
// itself through std::enable_shared_from_this, perhaps in a base class); bound
// earlier, the callable is inert from the start.
//
// weakAs<Interface>(object) is a weak link to the object seen through one of
// its interfaces (a delegate), sharing the object's own ownership.
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace kit {

template<typename Class, typename Member>
class WeakBound {
public:
    WeakBound(std::weak_ptr<Class> object, Member Class::*member)
        : m_object(std::move(object))
        , m_member(member)
    {
    }

    template<typename... Args>
    auto operator()(Args&&... args) const
    {
        using Result = std::invoke_result_t<Member Class::*, Class&, Args&&...>;
        auto object = m_object.lock();
        if constexpr (std::is_void_v<Result>) {
            if (object)
                std::invoke(m_member, *object, std::forward<Args>(args)...);
        } else {
            if (!object)
                return Result {};
            return std::invoke(m_member, *object, std::forward<Args>(args)...);
        }
    }

private:
    std::weak_ptr<Class> m_object;
    Member Class::*m_member;
};

// Object may be Class or derived from it, and may share itself through a base
// of Class (the pointer is cast down: Object must really be a Class).
template<typename Object, typename Class, typename Member>
WeakBound<Class, Member> bindWeak(Object& object, Member Class::*member)
{
    auto strong = object.weak_from_this().lock();
    if (!strong)
        return { std::weak_ptr<Class>(), member };
    return { std::shared_ptr<Class>(std::move(strong), static_cast<Class*>(&object)), member };
}

template<typename Class, typename Member>
WeakBound<Class, Member> bindWeak(const std::shared_ptr<Class>& object, Member Class::*member)
{
    return { object, member };
}

// The interface is given as a pointer where only the object can reach it (a private base).
template<typename Interface, typename Object>
std::weak_ptr<Interface> weakAs(Object& object, Interface* as)
{
    auto strong = object.weak_from_this().lock();
    if (!strong)
        return {};
    return std::shared_ptr<Interface>(std::move(strong), as);
}

template<typename Interface, typename Object>
std::weak_ptr<Interface> weakAs(Object& object)
{
    return weakAs<Interface>(object, static_cast<Interface*>(&object));
}

} // namespace kit
