package com.kq.AzureLibrary;

import org.junit.jupiter.api.extension.ExtensionContext;
import org.junit.jupiter.api.extension.ParameterContext;
import org.junit.jupiter.api.extension.ParameterResolver;

/**
 * Hands test classes the one Azurite of the test run: started on first use, stopped when the whole run ends.
 */
public final class AzuriteExtension implements ParameterResolver {
    private static final ExtensionContext.Namespace NS = ExtensionContext.Namespace.create(AzuriteExtension.class);

    @Override
    public boolean supportsParameter(ParameterContext parameter, ExtensionContext context) {
        return parameter.getParameter().getType() == AzuriteProcess.class;
    }

    @Override
    public Object resolveParameter(ParameterContext parameter, ExtensionContext context) {
        return context.getRoot().getStore(NS)
                .getOrComputeIfAbsent("azurite", key -> new Resource(AzuriteProcess.startOrAttach()), Resource.class)
                .azurite;
    }

    private record Resource(AzuriteProcess azurite) implements ExtensionContext.Store.CloseableResource {
        @Override
        public void close() {
            azurite.close();
        }
    }
}
