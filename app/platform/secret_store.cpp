// GLib's headers come before Qt's, whose "signals" keyword they would trip over.
#include <libsecret/secret.h>

#include "app/platform/secret_store.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const SecretSchema* PasswordSchema()
{
    static const SecretSchema schema = {
        "org.pellimar.MailboxPassword",
        SECRET_SCHEMA_NONE,
        {{"host", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"user", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, {}}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// A cancellable that cancels itself when the call takes too long.
class TCallLimit {
public:
    TCallLimit() : cancellable_(g_cancellable_new())
    {
        watchdog_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::seconds(TSecretStore::kCallLimitSeconds), [this] { return finished_; }))
                g_cancellable_cancel(cancellable_);
        });
    }
    ~TCallLimit()
    {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        watchdog_.join();
        g_object_unref(cancellable_);
    }
    GCancellable* Get() const { return cancellable_; }
    bool TimedOut() const { return g_cancellable_is_cancelled(cancellable_); }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread watchdog_;
};

TSecretResult Failure(TSecretResult::Status status, const QString& problem)
{
    TSecretResult result;
    result.status = status;
    result.problem = problem;
    return result;
}

TSecretResult FromError(GError* error, const TCallLimit& limit)
{
    const QString text = limit.TimedOut() ? QStringLiteral("the desktop keyring did not answer within %1 seconds")
                                                .arg(TSecretStore::kCallLimitSeconds)
                                          : QStringLiteral("the desktop keyring failed: %1")
                                                .arg(QString::fromUtf8(error ? error->message : "unknown error"));
    const bool locked = error && error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED;
    if (error)
        g_error_free(error);
    return Failure(locked ? TSecretResult::Locked : TSecretResult::Failed,
                   locked ? QStringLiteral("the desktop keyring is locked") : text);
}

TSecretResult Unavailable()
{
    return Failure(TSecretResult::Unavailable, QStringLiteral("no desktop keyring (Secret Service) is running"));
}

// The service with a session open, or null with failure saying why.
SecretService* ConnectService(const TCallLimit& limit, TSecretResult& failure)
{
    if (!TSecretStore::ServiceRunning()) {
        failure = Unavailable();
        return nullptr;
    }
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, limit.Get(), &error);
    if (!service)
        failure = FromError(error, limit);
    return service;
}

}  // namespace

bool TSecretStore::ServiceRunning()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value();
}

TSecretResult TSecretStore::Lookup(const QString& host, const QString& user)
{
    TCallLimit limit;
    TSecretResult failure;
    SecretService* service = ConnectService(limit, failure);
    if (!service)
        return failure;
    GError* error = nullptr;
    const QByteArray hostBytes = host.toUtf8(), userBytes = user.toUtf8();
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("host"), const_cast<char*>(hostBytes.constData()));
    g_hash_table_insert(attributes, const_cast<char*>("user"), const_cast<char*>(userBytes.constData()));
    // Without SECRET_SEARCH_UNLOCK: a locked item is found, never unlocked.
    GList* items = secret_service_search_sync(service, PasswordSchema(), attributes,
                                              static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
                                              limit.Get(), &error);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    if (error)
        return FromError(error, limit);
    TSecretResult result = Failure(TSecretResult::NotFound, QStringLiteral("the desktop keyring holds no password for %1 at %2").arg(user, host));
    bool locked = false;
    for (GList* item = items; item; item = item->next) {
        auto* secretItem = static_cast<SecretItem*>(item->data);
        if (secret_item_get_locked(secretItem)) {
            locked = true;
            continue;
        }
        if (SecretValue* value = secret_item_get_secret(secretItem)) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            result.status = TSecretResult::Ok;
            result.secret.assign(bytes, length);
            result.problem.clear();
            secret_value_unref(value);
            break;
        }
    }
    g_list_free_full(items, g_object_unref);
    if (result.status != TSecretResult::Ok && locked)
        return Failure(TSecretResult::Locked, QStringLiteral("the desktop keyring is locked"));
    return result;
}

TSecretResult TSecretStore::Store(const QString& host, const QString& user, const std::string& password)
{
    TCallLimit limit;
    TSecretResult failure;
    SecretService* service = ConnectService(limit, failure);
    if (!service)
        return failure;
    GError* error = nullptr;
    // A missing or locked default keyring would need a prompt: refused instead.
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, limit.Get(), &error);
    g_object_unref(service);
    if (!collection) {
        if (error)
            return FromError(error, limit);
        return Failure(TSecretResult::Failed, QStringLiteral("the desktop keyring has no default keyring"));
    }
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    if (locked)
        return Failure(TSecretResult::Locked, QStringLiteral("the desktop keyring is locked"));
    const QByteArray hostBytes = host.toUtf8(), userBytes = user.toUtf8();
    const QByteArray label = QStringLiteral("Pellimar mailbox password for %1 at %2").arg(user, host).toUtf8();
    const gboolean stored = secret_password_store_sync(PasswordSchema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                                                       password.c_str(), limit.Get(), &error, "host",
                                                       hostBytes.constData(), "user", userBytes.constData(), nullptr);
    if (!stored)
        return FromError(error, limit);
    TSecretResult result;
    result.status = TSecretResult::Ok;
    return result;
}
