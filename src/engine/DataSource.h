#pragma once

#include <algorithm>
#include <exception>
#include <vector>

#include <QObject>

namespace zeplo {

class ResultSet;
class Field;
class DataSource;

// What a result set tells the controls bound to it.
enum class DataEvent {
    ActiveChanged,    // opened or closed; fields made or discarded
    StateChanged,     // browse / edit / insert
    DataSetChanged,   // rows re-read around the current row
    Scrolled,         // the current row moved
    RecordChanged,    // a value of the current row changed (field given)
    UpdateData,       // about to post: write back
    FocusControl,     // put the focus on the control of the given field
};

// Calls `deliver` for every item of `items` still in it when its turn comes,
// even when an earlier one fails; the first failure is passed on afterwards.
template <class T, class F>
void deliverToEach(const std::vector<T *> &items, F deliver)
{
    std::exception_ptr first;
    for (T *item : std::vector<T *>(items)) {
        if (std::find(items.begin(), items.end(), item) == items.end())
            continue;
        try {
            deliver(item);
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
}

// A control's connection to a data source.
class DataLink {
public:
    virtual ~DataLink();
    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return source_; }
    ResultSet *dataSet() const;
    bool active() const;
    // Editing exactly while the result set is in edit or insert and the control is not read-only.
    bool editing() const;
    virtual bool linkReadOnly() const { return false; }
    // Rows this control shows at once; the result set keeps as many in memory.
    virtual int bufferCount() const { return 1; }

    virtual void dataEvent(DataEvent event, Field *field) = 0;

private:
    DataSource *source_ = nullptr;
};

class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(QObject *parent = nullptr);
    ~DataSource() override;

    ResultSet *dataSet() const { return dataSet_; }
    void setDataSet(ResultSet *dataSet);

    bool autoEdit() const { return autoEdit_; }
    void setAutoEdit(bool on) { autoEdit_ = on; }

    // The gate through which a control starts editing: calls edit on the result
    // set only when auto-edit is on and the state is browse.
    void edit();

    const std::vector<DataLink *> &links() const { return links_; }
    void notify(DataEvent event, Field *field);

private:
    friend class DataLink;
    void addLink(DataLink *link);
    void removeLink(DataLink *link);
    ResultSet *dataSet_ = nullptr;
    bool autoEdit_ = false;
    std::vector<DataLink *> links_;
};

} // namespace zeplo
