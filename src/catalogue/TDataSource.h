#pragma once

#include <vector>

#include <QObject>

namespace zeplo {

class TQuery;
class TField;
class TDataSource;

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

// A control's connection to a data source.
class DataLink {
public:
    virtual ~DataLink();
    void setDataSource(TDataSource *source);
    TDataSource *dataSource() const { return source_; }
    TQuery *dataSet() const;
    bool active() const;
    // Editing exactly while the result set is in edit or insert and the control is not read-only.
    bool editing() const;
    virtual bool linkReadOnly() const { return false; }
    // Rows this control shows at once; the result set keeps as many in memory.
    virtual int bufferCount() const { return 1; }

    virtual void dataEvent(DataEvent event, TField *field) = 0;

private:
    TDataSource *source_ = nullptr;
};

class TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject *parent = nullptr);
    ~TDataSource() override;

    TQuery *dataSet() const { return dataSet_; }
    void setDataSet(TQuery *dataSet);

    bool AutoEdit = false;

    // The gate through which a control starts editing: calls edit on the result
    // set only when AutoEdit is on and the state is browse.
    void edit();

    const std::vector<DataLink *> &links() const { return links_; }
    void notify(DataEvent event, TField *field);

private:
    friend class DataLink;
    void addLink(DataLink *link);
    void removeLink(DataLink *link);
    TQuery *dataSet_ = nullptr;
    std::vector<DataLink *> links_;
};

} // namespace zeplo
