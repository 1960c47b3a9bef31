#pragma once
// The tree of backup sources: every root and, below it, every container its enumeration
// gives. It owns every node. Check states follow the tree control's rules: checking an item
// checks everything below it; a parent is checked when all its children are, unchecked when
// none is, and partly checked otherwise. A container's own items (a folder's files, a mail
// folder's messages) follow the container and count as one more child: unchecking every
// subfolder of a folder keeps its own files, and checking one subfolder of an unchecked
// folder leaves the folder's own files out.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/Node.h"

class SourceTree {
  public:
    enum State { kUnchecked = 0, kChecked = 1, kPartly = 2 };

    struct Item {
        v::BasicNode* node = nullptr;
        Item* parent = nullptr;
        std::vector<std::unique_ptr<Item>> children;
        State state = kChecked;
        bool ownItems = true;  // its own items are chosen (when its node may hold any)
    };

    explicit SourceTree(bool messageStoreOnly = false);
    ~SourceTree();
    SourceTree(const SourceTree&) = delete;
    SourceTree& operator=(const SourceTree&) = delete;

    const std::vector<std::unique_ptr<Item>>& Roots() const { return roots_; }

    // Finds an item by display names joined with "/", e.g. "Message Store/Main Identity/Inbox".
    Item* Find(const std::string& path) const;
    static std::string PathOf(const Item& item);

    void SetState(Item& item, State state);  // and propagates down and up
    void SetAll(State state);
    // Every checked or partly checked node, in pre-order.
    std::vector<v::BasicNode*> Selected() const;
    // The selected nodes whose own items are left out.
    std::set<const v::BasicNode*> WithoutOwnItems() const;

  private:
    void Fill(Item& item);
    static void SetDown(Item& item, State state);
    static void UpdateUp(Item* item);

    std::vector<std::unique_ptr<Item>> roots_;
    v::NodeList owned_;
};
