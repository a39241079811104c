// Lists the module allocates node by node, with a head and a tail: adding
// a node at the end, and freeing them all, whatever they hold.
#pragma once

#include <cstdlib>

// Puts `node` after the tail.
template <typename Node>
void AppendNode(Node** head, Node** tail, Node* node) {
  node->next = nullptr;
  if (*head == nullptr) {
    *head = node;
  } else {
    (*tail)->next = node;
  }
  *tail = node;
}

// Frees every node from `head` on, with `each` for what a node holds.
template <typename Node>
void FreeChain(Node* head, void (*each)(Node*) = nullptr) {
  while (head != nullptr) {
    Node* next = head->next;
    if (each != nullptr) each(head);
    free(head);
    head = next;
  }
}
