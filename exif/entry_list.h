// An intrusive, circular, doubly linked list with a sentinel.
//
// Each element carries its own link, so linking allocates nothing. A link that is in no list,
// and the sentinel of an empty list, point to themselves both ways. The list owns its elements
// only through removeAll(): destroying the list touches no element.
#pragma once

namespace tagloom {

template <typename T>
class CListLink {
public:
    explicit CListLink(T* owner = nullptr) noexcept : previous(this), next(this), element(owner) {}
    CListLink(const CListLink&) = delete;
    CListLink& operator=(const CListLink&) = delete;

    bool isLinked() const { return next != this; }

    CListLink* previous;
    CListLink* next;
    T* element;  // the element this link lies in; none for a sentinel
};

template <typename T, CListLink<T> T::*Link>
class CList {
public:
    CList() = default;
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;

    T* first() { return elementOf(sentinel_.next); }
    const T* first() const { return elementOf(sentinel_.next); }
    /// The element after `element`, or none when it is the last.
    T* next(T* element) { return elementOf((element->*Link).next); }
    const T* next(const T* element) const { return elementOf((element->*Link).next); }
    bool empty() const { return sentinel_.next == &sentinel_; }

    /// Links `element` at the tail.
    void append(T* element) { linkBefore(&sentinel_, element); }
    /// Links `element` right before `existing`, which must be in this list.
    void insertBefore(T* existing, T* element) { linkBefore(&(existing->*Link), element); }

    /// Takes `element` out of the list; its link then points to itself. The element is not destroyed.
    void unlink(T* element) {
        CListLink<T>& link = element->*Link;
        link.previous->next = link.next;
        link.next->previous = link.previous;
        link.previous = link.next = &link;
    }

    /// Unlinks and destroys every element.
    void removeAll() {
        while (T* element = first()) {
            unlink(element);
            delete element;
        }
    }

private:
    T* elementOf(CListLink<T>* link) const { return link == &sentinel_ ? nullptr : link->element; }

    void linkBefore(CListLink<T>* position, T* element) {
        CListLink<T>& link = element->*Link;
        link.previous = position->previous;
        link.next = position;
        position->previous->next = &link;
        position->previous = &link;
    }

    CListLink<T> sentinel_;
};

}  // namespace tagloom
