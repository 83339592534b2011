#pragma once
// Property tables. A kind declares each PR_ property it serves once: the
// member that holds it and what a change does; the table then answers the
// numbered getter and setter. A kind's table starts from its base class's
// table, so it lists only what it adds or serves differently. Ids nobody
// declares read as zero or the empty string and ignore writes.
//
//   const TPropTable& TZirkTile::Properties() const {
//     using P = TPropField<TZirkTile>;
//     static const TPropTable table(TZirkCustomImages::Properties(), {
//         P(PR_DISTANCEX, &TZirkTile::distanceX_, TPropChange::Redraw),
//         P(PR_SOURCE, &TZirkTile::source_).Set(&TZirkTile::SetSource),
//         P(PR_REPEAT).Get([](TZirkTile&) { return true; }),
//     });
//     return table;
//   }
//
// P(id, member, change) serves the member both ways; the member may also be
// reached through a callable giving a reference to it (a list's font).
// Values are int32_t, bool, uint8_t or std::string members. A setter
// declared by a member compares first: an equal value changes nothing, runs
// no hook and redraws nothing. Then(hook) runs after a changed value is
// stored, before the closing redraw; Clamp(low, high) bounds an integer
// before the compare. Get(f) or Set(f) replace one side (f a member
// function or a callable taking the object); a setter given with Set does
// everything itself. ReadOnly() and WriteOnly() shut one side, even where
// the base table served it. An entry declaring one side keeps the base's
// other side.

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "base/vocab.h"
#include "scene/zobject.h"
#include "script/params.h"
#include "script/props.h"

namespace zirk {

// What a stored change does around the store.
enum class TPropChange : uint8_t {
  Store,         // store only
  Redraw,        // store, then invalidate
  RedrawAround,  // invalidate, store, invalidate (the object's own picture moves)
  Move,          // the object and its descendants invalidated before and after
  Relayout,      // invalidate, store, then LayoutChanged
};

class TPropTable {
 public:
  using TGetter = std::function<void(TPropObject&, TCustomParam&)>;
  using TSetter = std::function<void(TPropObject&, const TCustomParam&)>;
  // One id's declaration; a side left empty is not declared (a derived
  // table keeps its base's for it).
  struct TEntry {
    int Id = -1;
    TGetter Get;
    TSetter Set;
  };

  // Declaring an id twice in one table, or an id outside the vocabulary,
  // raises std::logic_error.
  TPropTable(std::initializer_list<TEntry> entries);
  TPropTable(const TPropTable& base, std::initializer_list<TEntry> entries);

  // The declared getter, else the holder cleared (zero, empty).
  void Get(TPropObject& object, int id, TCustomParam& value) const;
  // The declared setter, else nothing.
  void Set(TPropObject& object, int id, const TCustomParam& value) const;
  bool Readable(int id) const { return inRange(id) && get_[static_cast<size_t>(id)] != nullptr; }
  bool Writable(int id) const { return inRange(id) && set_[static_cast<size_t>(id)] != nullptr; }

 private:
  static bool inRange(int id) { return id >= 0 && id < kPropertyCount; }
  void declare(std::initializer_list<TEntry> entries);

  std::array<TGetter, kPropertyCount> get_;
  std::array<TSetter, kPropertyCount> set_;
};

// The effects of a change on a scene object (holders that are not scene
// objects only store).
void PropChangeBefore(TZirkObject& object, TPropChange change);
void PropChangeAfter(TZirkObject& object, TPropChange change);

namespace propdetail {

template <class T>
inline constexpr bool kValue = std::is_same_v<T, int32_t> || std::is_same_v<T, bool> ||
                               std::is_same_v<T, uint8_t> || std::is_same_v<T, std::string>;

template <class T>
T fromParam(const TCustomParam& v) {
  static_assert(kValue<T>, "property values are int32_t, bool, uint8_t or std::string");
  if constexpr (std::is_same_v<T, bool>)
    return v.AsBoolean();
  else if constexpr (std::is_same_v<T, std::string>)
    return v.AsString();
  else
    return static_cast<T>(v.AsInteger());
}

template <class T>
void toParam(TCustomParam& v, const T& x) {
  static_assert(kValue<T>, "property values are int32_t, bool, uint8_t or std::string");
  if constexpr (std::is_same_v<T, bool>)
    v.SetBoolean(x);
  else if constexpr (std::is_same_v<T, std::string>)
    v.SetString(x);
  else
    v.SetInteger(x);
}

// The value parameter of a setter: a member function taking the value, or
// a callable taking (object, value).
template <class F>
struct TSetterArg : TSetterArg<decltype(&F::operator())> {};
template <class R, class C, class A>
struct TSetterArg<R (C::*)(A)> {
  using type = A;
};
template <class R, class C, class A>
struct TSetterArg<R (C::*)(A) const> {
  using type = A;
};
template <class R, class C, class O, class A>
struct TSetterArg<R (C::*)(O&, A)> {
  using type = A;
};
template <class R, class C, class O, class A>
struct TSetterArg<R (C::*)(O&, A) const> {
  using type = A;
};

}  // namespace propdetail

// The declaration of one property of kind Owner; converts to a table entry.
template <class Owner>
class TPropField {
  static_assert(std::is_base_of_v<TPropObject, Owner>);
  static constexpr bool kSceneObject = std::is_base_of_v<TZirkObject, Owner>;

 public:
  // A property without a member: only what Get and Set declare.
  explicit TPropField(int id) : id_(id) {}

  // A property held in a member of Owner (or of a base), or reached through
  // a callable giving a reference to it.
  template <class Access>
  requires std::is_lvalue_reference_v<std::invoke_result_t<Access, Owner&>> TPropField(
      int id, Access access, TPropChange change = TPropChange::Store)
      : id_(id), change_(change) {
    using T = std::remove_cvref_t<std::invoke_result_t<Access, Owner&>>;
    if (!kSceneObject && change != TPropChange::Store) fail("only scene objects redraw");
    integer_ = std::is_same_v<T, int32_t>;
    get_ = [access](Owner& o, TCustomParam& v) {
      propdetail::toParam<T>(v, std::invoke(access, o));
    };
    store_ = [access](Owner& o, const TCustomParam& v, const TSettings& s) {
      T x = propdetail::fromParam<T>(v);
      if constexpr (std::is_same_v<T, int32_t>) {
        if (s.Clamped) x = std::clamp(x, s.Low, s.High);
      }
      if (std::invoke(access, o) == x) return;
      if constexpr (kSceneObject) PropChangeBefore(o, s.Change);
      std::invoke(access, o) = std::move(x);
      if (s.Then) s.Then(o);
      if constexpr (kSceneObject) PropChangeAfter(o, s.Change);
    };
  }

  // The getter: a member function or a callable taking the object, giving
  // the value (or taking the holder too and filling it).
  template <class F>
  TPropField& Get(F f) {
    if constexpr (std::is_invocable_v<F, Owner&, TCustomParam&>) {
      get_ = [f](Owner& o, TCustomParam& v) { std::invoke(f, o, v); };
    } else {
      using R = std::remove_cvref_t<std::invoke_result_t<F, Owner&>>;
      get_ = [f](Owner& o, TCustomParam& v) { propdetail::toParam<R>(v, std::invoke(f, o)); };
    }
    return *this;
  }

  // The setter, which then does everything itself: a member function taking
  // the value, or a callable taking (object, value). A value parameter of
  // `const TCustomParam&` receives the holder as given.
  template <class F>
  TPropField& Set(F f) {
    using A = std::remove_cvref_t<typename propdetail::TSetterArg<F>::type>;
    set_ = [f](Owner& o, const TCustomParam& v) {
      if constexpr (std::is_same_v<A, TCustomParam>)
        std::invoke(f, o, v);
      else
        std::invoke(f, o, propdetail::fromParam<A>(v));
    };
    return *this;
  }

  // Runs after a changed member is stored, before the closing redraw.
  template <class F>
  TPropField& Then(F hook) {
    then_ = [hook](Owner& o) { std::invoke(hook, o); };
    return *this;
  }

  // An integer member takes values clamped to low..high before comparing.
  TPropField& Clamp(int32_t low, int32_t high) {
    if (!integer_) fail("only an int32_t member is clamped");
    clamped_ = true;
    low_ = low;
    high_ = high;
    return *this;
  }

  // Writes are ignored (even where the base table had a setter).
  TPropField& ReadOnly() {
    readOnly_ = true;
    return *this;
  }
  // Reads give zero or the empty string (even where the base had a getter).
  TPropField& WriteOnly() {
    writeOnly_ = true;
    return *this;
  }

  operator TPropTable::TEntry() const {  // NOLINT(google-explicit-constructor)
    if ((then_ || clamped_) && (!store_ || set_)) fail("Then and Clamp need a member setter");
    if (set_ && change_ != TPropChange::Store) fail("a setter of its own redraws itself");
    TPropTable::TEntry e;
    e.Id = id_;
    if (writeOnly_) {
      e.Get = [](TPropObject&, TCustomParam& v) { v.Clear(); };
    } else if (get_) {
      e.Get = [g = get_](TPropObject& o, TCustomParam& v) { g(static_cast<Owner&>(o), v); };
    }
    if (readOnly_) {
      e.Set = [](TPropObject&, const TCustomParam&) {};
    } else if (set_) {
      e.Set = [s = set_](TPropObject& o, const TCustomParam& v) { s(static_cast<Owner&>(o), v); };
    } else if (store_) {
      TSettings settings{change_, clamped_, low_, high_, then_};
      e.Set = [st = store_, settings](TPropObject& o, const TCustomParam& v) {
        st(static_cast<Owner&>(o), v, settings);
      };
    }
    return e;
  }

 private:
  struct TSettings {
    TPropChange Change;
    bool Clamped;
    int32_t Low, High;
    std::function<void(Owner&)> Then;
  };
  [[noreturn]] void fail(const char* what) const {
    throw std::logic_error("property " + std::to_string(id_) + ": " + what);
  }

  int id_;
  TPropChange change_ = TPropChange::Store;
  bool integer_ = false;
  bool clamped_ = false;
  int32_t low_ = 0, high_ = 0;
  bool readOnly_ = false, writeOnly_ = false;
  std::function<void(Owner&, TCustomParam&)> get_;
  std::function<void(Owner&, const TCustomParam&)> set_;
  std::function<void(Owner&, const TCustomParam&, const TSettings&)> store_;
  std::function<void(Owner&)> then_;
};

}  // namespace zirk
