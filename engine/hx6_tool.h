// hx6_tool: the engine's small shared types: the owning list ThxCollection, the typed value
// buffer ThxVariant, the paged bit set ThxHugeSet and the file-name helpers.
//
// Thread-safety: none of these types is safe for concurrent use; each is owned by one user.
#pragma once

#include <cstddef>
#include <vector>

// An owning list of items. Removing or clearing frees the items through FreeItem, which by
// default deletes them; a subclass that only lists items it does not own overrides FreeItem
// to do nothing, and calls FreeAll in its own destructor (the base destructor no longer reaches
// the override).
template <class T>
class ThxCollection {
 public:
  ThxCollection() = default;
  ThxCollection(const ThxCollection&) = delete;
  ThxCollection& operator=(const ThxCollection&) = delete;
  virtual ~ThxCollection() { FreeAll(); }

  void Add(T* item) { items_.push_back(item); }
  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const { return items_[static_cast<size_t>(index)]; }
  int IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == item) return static_cast<int>(i);
    return -1;
  }
  // Removes the item from the list without freeing it; false when it was not listed.
  bool Remove(const T* item) {
    int i = IndexOf(item);
    if (i < 0) return false;
    items_.erase(items_.begin() + i);
    return true;
  }
  // Removes the item from the list and frees it.
  void DeleteAndFree(T* item) {
    if (Remove(item)) FreeItem(item);
  }
  // Frees every item in list order, then empties the list.
  void FreeAll() {
    std::vector<T*> items;
    items.swap(items_);
    for (T* item : items) FreeItem(item);
  }

 protected:
  virtual void FreeItem(T* item) { delete item; }

 private:
  std::vector<T*> items_;
};
