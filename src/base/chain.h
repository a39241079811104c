// Lists the module allocates node by node: freeing one, whatever it holds.
#pragma once

#include <cstdlib>

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
