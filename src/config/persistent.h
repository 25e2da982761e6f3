#ifndef TLY_CONFIG_PERSISTENT_H_
#define TLY_CONFIG_PERSISTENT_H_

namespace tly {

// An object that can take over the state of another object. Each class decides
// which sources it accepts; a source it does not know leaves it unchanged.
class TPersistent {
 public:
  virtual ~TPersistent() = default;

  // Copies what this class understands of `source` into this object. A null
  // or unrelated source changes nothing and reports nothing.
  virtual void Assign(const TPersistent* source) { (void)source; }

 protected:
  TPersistent() = default;
  TPersistent(const TPersistent&) = default;
  TPersistent& operator=(const TPersistent&) = default;
};

}  // namespace tly

#endif  // TLY_CONFIG_PERSISTENT_H_
