// The agent's list: a singly linked list of two-field nodes (next, element), appended at
// the tail and searched from the head, so that the first match wins. A node owns its
// element; destroying the list destroys every element through its destructor.
#pragma once

#include "common/alloc.h"

namespace crv {

template <class T>
struct ListNode {
  ListNode* next;
  T* element;
};

template <class T>
class SinglyLinkedList {
 public:
  using Node = ListNode<T>;

  SinglyLinkedList() = default;
  SinglyLinkedList(const SinglyLinkedList&) = delete;
  SinglyLinkedList& operator=(const SinglyLinkedList&) = delete;
  ~SinglyLinkedList() { Clear(); }

  Node* Head() const { return head_; }
  bool Empty() const { return head_ == nullptr; }

  // A new node holding element (not yet linked), or null when it cannot be allocated.
  static Node* NewNode(T* element) {
    Node* node = static_cast<Node*>(AllocateZeroed(sizeof(Node)));
    if (node != nullptr) node->element = element;
    return node;
  }
  // Destroys a node that is not linked, with its element.
  static void DestroyNode(Node* node) {
    if (node == nullptr) return;
    DeleteObject(node->element);
    FreeBlock(node);
  }

  void Append(Node* node) {
    node->next = nullptr;
    if (tail_ == nullptr) {
      head_ = node;
    } else {
      tail_->next = node;
    }
    tail_ = node;
  }

  // Unlinks node, whose predecessor is previous (null for the head); the node is not freed.
  void Unlink(Node* previous, Node* node) {
    (previous == nullptr ? head_ : previous->next) = node->next;
    if (tail_ == node) tail_ = previous;
    node->next = nullptr;
  }

  // Hands every node over to other (which must be empty) and leaves this list empty.
  void MoveTo(SinglyLinkedList& other) {
    other.head_ = head_;
    other.tail_ = tail_;
    head_ = tail_ = nullptr;
  }

  void Clear() {
    while (head_ != nullptr) {
      Node* next = head_->next;
      DestroyNode(head_);
      head_ = next;
    }
    tail_ = nullptr;
  }

  template <class Visit>
  void ForEach(Visit visit) const {
    for (Node* node = head_; node != nullptr; node = node->next) visit(*node->element);
  }

 private:
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
};

}  // namespace crv
