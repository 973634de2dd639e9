#pragma once

#include <cstdint>
#include <new>

// Singly linked list that owns its items: clearing it deletes every item.
// Iterated with First/Next through an internal cursor.
template <typename T> class CSList {
public:
    CSList() = default;
    virtual ~CSList() { Clear(); }
    CSList(const CSList&) = delete;
    CSList& operator=(const CSList&) = delete;

    // Adds item at the tail. False when no node could be allocated; the item
    // then stays the caller's.
    bool Append(T* item) {
        Node* node = new (std::nothrow) Node{nullptr, item};
        if (!node)
            return false;
        if (tail)
            tail->next = node;
        else
            head = node;
        tail = node;
        ++count;
        return true;
    }

    T* First() {
        cursor = head;
        return cursor ? cursor->data : nullptr;
    }

    T* Next() {
        if (cursor)
            cursor = cursor->next;
        return cursor ? cursor->data : nullptr;
    }

    uint32_t Count() const { return count; }

    // Deletes every item and node.
    void Clear() {
        Node* node = head;
        while (node) {
            Node* next = node->next;
            delete node->data;
            delete node;
            node = next;
        }
        count = 0;
        head = tail = cursor = nullptr;
    }

    // Moves every item of other, in order, to the end of this list. other is
    // left empty and nothing is deleted.
    void TakeAll(CSList& other) {
        if (&other == this || !other.head)
            return;
        if (tail)
            tail->next = other.head;
        else
            head = other.head;
        tail = other.tail;
        count += other.count;
        other.count = 0;
        other.head = other.tail = other.cursor = nullptr;
    }

private:
    struct Node {
        Node* next;
        T* data;
    };

    uint32_t count = 0;
    Node* head = nullptr;
    Node* tail = nullptr;
    Node* cursor = nullptr;
};
